#!/usr/bin/env python3
"""Writes the malformed Standard MIDI Files of this folder.

Each file has one defect; tests/bad_files_test.cpp names the result and message the
library gives for each. Run from anywhere: python3 generate.py
The files are committed; rerun only after changing this list.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

END = bytes([0x00, 0xFF, 0x2F, 0x00])                      # delta 0, end of track
NOTE = bytes([0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40])  # note on, off after 96


def header(fmt, ntracks, division, length=6):
    return b'MThd' + struct.pack('>IHHH', length, fmt, ntracks, division)


def chunk(kind, data, length=None):
    return kind + struct.pack('>I', len(data) if length is None else length) + data


def track(data, length=None):
    return chunk(b'MTrk', data, length)


def smf(fmt, division, tracks):
    return header(fmt, len(tracks), division) + b''.join(track(t) for t in tracks)


GOOD = smf(1, 96, [NOTE + END, NOTE + END])

FILES = {
    # ---- header chunk
    'empty': b'',
    'header_three_bytes': b'MTh',
    'header_id_only': b'MThd',
    'header_cut_after_format': GOOD[:10],
    'header_cut_in_division': GOOD[:13],
    'not_midi_riff_container': b'RIFF' + struct.pack('<I', 4 + len(GOOD)) + b'RMID' + GOOD,
    'not_midi_text': b'This is not a MIDI file.\n',
    'not_midi_lowercase_id': b'mthd' + GOOD[4:],
    'format_two': smf(2, 96, [END]),
    'format_ffff': smf(0xFFFF, 96, [END]),
    'format_zero_two_tracks': smf(0, 96, [END, END]),
    'smpte_division': smf(1, 0xE250, [END]),
    'header_length_eight': header(1, 1, 96, length=8) + b'\x00\x00' + track(END),
    'many_tracks_declared': header(1, 0xFFFF, 96) + track(END),
    # ---- chunk framing
    'private_chunk_between_tracks':
        header(1, 2, 96) + track(NOTE + END) + chunk(b'XPRV', b'\x01\x02\x03') + track(END),
    'lowercase_track_id': header(1, 1, 96) + chunk(b'mtrk', END),
    'missing_last_track': header(1, 3, 96) + track(NOTE + END) + track(END),
    'cut_in_track_id': GOOD[:-18],
    'cut_in_track_length': GOOD[:-14],
    'cut_in_track_data': GOOD[:-3],
    'length_beyond_file': header(1, 2, 96) + track(END) + track(END, length=100),
    'length_2gib_minus_one': header(1, 2, 96) + track(END) + track(END, length=0x7FFFFFFF),
    'length_2gib': header(1, 2, 96) + track(END) + track(END, length=0x80000000),
    'length_4gib_minus_one': header(1, 2, 96) + track(END) + track(END, length=0xFFFFFFFF),
    'first_length_overflows_with_prefix': header(0, 1, 96) + track(END, length=0x7FFFFFFA),
    'zero_length_first_track': smf(1, 96, [b'', NOTE + END]),
    'zero_length_second_track': smf(1, 96, [NOTE + END, b'']),
    # ---- track data
    'delta_vlq_five_bytes': smf(0, 96, [b'\x81\x80\x80\x80\x00' + NOTE[1:] + END]),
    'delta_vlq_all_ones': smf(0, 96, [b'\xff\xff\xff\xff\x7f' + NOTE[1:] + END]),
    'delta_vlq_past_end': smf(0, 96, [NOTE + b'\x81']),
    'channel_message_cut': smf(0, 96, [b'\x00\x90\x3c']),
    'meta_length_past_end': smf(0, 96, [b'\x00\xff\x01\x7f' + b'AB']),
    'meta_length_huge': smf(0, 96, [b'\x00\xff\x01\xff\xff\xff\x7f' + b'AB']),
    'sysex_length_past_end': smf(0, 96, [b'\x00\xf0\x85\x00\x01\x02']),
    'sysex_length_vlq_past_end': smf(0, 96, [b'\x00\xf0\x81']),
    'tempo_length_two': smf(0, 96, [b'\x00\xff\x51\x02\x07\xa1\x20' + NOTE + END]),
    'tempo_length_seven': smf(0, 96, [b'\x00\xff\x51\x07\x07\xa1\x20' + NOTE + END]),
    'tempo_cut_in_payload': smf(0, 96, [b'\x00\xff\x51\x03\x07']),
    'time_signature_length_one': smf(0, 96, [b'\x00\xff\x58\x01\x06\x03\x18\x08' + NOTE + END]),
    'key_signature_length_zero_at_end': smf(0, 96, [b'\x00\xff\x59\x00']),
    'port_meta_length_five': smf(0, 96, [b'\x00\xff\x21\x05\x01' + NOTE + END]),
    'data_bytes_top_bit': smf(0, 96, [b'\x00\x90\xcc\xcc\x00\xc0\xff\x00\x90\x3c\x40' + END]),
    'running_status_at_start': smf(0, 96, [b'\x00\x3c\x40' + NOTE + END]),
    'running_status_after_sysex':
        smf(0, 96, [NOTE + b'\x00\xf0\x01\xf7' + b'\x00\x3c\x40' + END]),
    'system_common_cut': smf(0, 96, [b'\x00\xf2\x10']),
    'bytes_after_end_of_track': smf(0, 96, [NOTE + END + b'\x00\x90\x3c\x40\xde\xad']),
    'no_end_of_track': smf(0, 96, [NOTE + b'\x00']),
    'second_track_only_a_delta': smf(1, 96, [NOTE + END, b'\x00']),
    'sysex_zero_length': smf(0, 96, [b'\x00\xf0\x00' + END]),
}


def main():
    for name in os.listdir(HERE):
        if name.endswith('.mid'):
            os.remove(os.path.join(HERE, name))
    for name, data in sorted(FILES.items()):
        with open(os.path.join(HERE, name + '.mid'), 'wb') as out:
            out.write(data)
    print('%d files' % len(FILES))


if __name__ == '__main__':
    main()
