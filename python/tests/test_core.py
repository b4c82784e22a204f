"""midifolio.core: the library's own interface from Python, on real and built files."""
import gc

import pytest

import midifolio
from midifolio import core
from conftest import DATA, meta, smf, track

SAMPLE = DATA / "cli" / "sample.mid"


def loaded(path=SAMPLE):
    song = core.CMidiFolio()
    messages = []
    song.SetMessageSink(messages.append)
    assert song.LoadMidiFile(str(path)) == 1, messages
    return song


class TestSongAndTracks:
    def test_walk_the_sample_song_as_the_guide_does(self):
        song = loaded()
        head = song.GetMidiHeaderInfo()
        assert (head.nFormat, head.nTracks, head.nDivision) == (1, 2, 480)
        counts, notes = [], []
        for i in range(song.GetTrackNum()):
            t = song.GetTrack(i)
            n, pos = 0, t.GetEventHeadPosition()
            while pos is not None:
                ev, pos = t.GetNextEvent(pos)
                n += ev.dwType == core.EVT_NOTEON and ev.byData2 > 0
            counts.append(t.GetCount())
            notes.append(n)
        assert counts == [137, 486] and notes == [42, 240]
        assert [len(song.GetTrack(i)) for i in range(2)] == counts
        assert len(list(song.GetTrack(0))) == 137
        assert song.GetTrack(2) is None

    def test_the_first_event_is_the_loaders_tempo(self):
        song = loaded()
        first = song.GetTrack(0)
        head = first.GetEventHeadPosition()
        ev = first.GetAt(head)
        assert (ev.dwType, ev.dwSubType, ev.data) == (core.EVT_META, core.META_TEMPO, b"\x07\xa1\x20")
        assert song.IsLoaderTempo(first, head) == 1
        assert song.RemoveLoaderTempo() == 1 and first.GetCount() == 136

    def test_a_track_outlives_the_python_name_of_its_song(self):
        t = loaded().GetTrack(1)
        gc.collect()
        assert t.GetCount() == 486 and len(list(t)) == 486

    def test_edit_store_and_load_again(self, tmp_path):
        song = loaded()
        t = song.GetTrack(0)
        pos = t.GetEventHeadPosition()
        removed = 0
        while pos is not None:
            here = pos
            ev, pos = t.GetNextEvent(pos)
            if ev.dwType == core.EVT_META and ev.dwSubType == core.META_LYRIC:
                removed += t.DeleteEvent(here)
        marker = core.MIDIEvent()
        marker.lTime, marker.byChannel, marker.dwType, marker.dwSubType = 7680, 255, core.EVT_META, core.META_MARKER
        marker.data = b"Second verse"
        assert marker.dwLength == 12
        assert t.InsertEventAfter(None, marker) is not None
        assert t.SortTrackByLTime()[0] == 1
        out = tmp_path / "edited.mid"
        assert song.StoreMidiFile(str(out)) == 1 and song.GetStoreError() == 0
        check = loaded(out)
        # The guide's figure: 137 events - 42 lyrics + 1 marker + the new load's tempo event.
        assert removed == 42 and check.GetTrack(0).GetCount() == 97
        texts = [ev.data for ev in check.GetTrack(0) if ev.dwType == core.EVT_META and ev.dwSubType == core.META_MARKER]
        assert texts == [b"Second verse"]

    def test_a_position_of_another_track_is_refused(self):
        song = loaded()
        pos = song.GetTrack(1).GetEventHeadPosition()
        with pytest.raises(ValueError):
            song.GetTrack(0).GetNextEvent(pos)
        with pytest.raises(ValueError):
            song.GetTrack(0).DeleteEvent(pos)
        assert song.GetTrack(1).FindIndex(0) == pos and song.GetTrack(1).FindIndex(10**6) is None

    def test_add_track_gives_the_song_a_copy(self, tmp_path):
        song = core.CMidiFolio()
        song.SetMidiHeaderinfo(core._MIDIHEAD(0, 1, 96))
        t = core.CMidiTrack()
        assert t.SetMidiTrackRawData(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))) == 1
        assert song.AddTrack(t) == 0
        t.RemoveAllPt()
        assert song.GetTrack(0).GetCount() == 3 and t.GetCount() == 0
        assert song.GetTrack(0).GetMidiTrackRawData() == track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))
        assert song.StoreMidiFile(str(tmp_path / "one.mid")) == 1
        assert (tmp_path / "one.mid").read_bytes() == smf(
            track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")), fmt=0)


class TestMessagesAndProgress:
    def test_the_sink_hears_one_message_per_refusal(self):
        messages = []
        song = core.CMidiFolio()
        song.SetMessageSink(messages.append)
        assert song.LoadMidiFile(str(DATA / "cli" / "not_midi.mid")) == 0
        assert messages == ["Not Midi file!!"]
        assert song.LoadMidiFile(str(DATA / "no such file.mid")) == 0
        assert messages[1] == "No such file or directory"

    def test_progress_calls_and_an_exception_raised_in_one(self, tmp_path):
        calls = []

        class Log:
            def SetRange(self, lower, upper):
                calls.append(("range", lower, upper))

            def SetPos(self, pos):
                calls.append(("pos", pos))

        song = core.CMidiFolio()
        assert song.LoadMidiFile(str(SAMPLE), Log()) == 1
        assert calls == [("range", 0, 2), ("pos", 0), ("pos", 1)]

        class Broken(Log):
            def SetPos(self, pos):
                raise RuntimeError("stop at %d" % pos)

        with pytest.raises(RuntimeError, match="stop at 0"):
            song.StoreMidiFile(str(tmp_path / "x.mid"), Broken())


class TestTimeTempoAndQueries:
    def test_time_formats_as_the_guide_shows(self):
        song = loaded()
        t = core.MakeMeasure(1, 0, 0)
        song.ConvertMIDITime(t, core.TF_TICK)
        assert t.lTicks == 1920
        song.ConvertMIDITime(t, core.TF_MSEC)
        assert t.dMsecs == 2400
        tempo = song.GetMidiTempo()
        assert [x.lUsPerQuarter for x in tempo.GetTempos()] == [500000, 500000, 600000, 681818, 833333]
        assert tempo.TicksToMsecs(1920) == 2400 and (tempo.GetBar().dwBaseBarNum, tempo.GetBar().dwBaseNoteNum) == (4, 4)

    def test_selection_queries(self):
        song = loaded()
        assert len(song.GetMIDIByChannel(9)) == 288
        first = song.GetMIDIByTime(core.TF_MEASURE, core.MakeTicks(0), core.MakeMeasure(2, 0, 0))
        notes = [r for r in first if r.event.dwType == core.EVT_NOTEON and r.event.byData2 and r.event.byChannel == 0]
        assert [(r.time.lMeasure + 1, r.time.nBeat + 1, r.event.byData1, r.event.dwLength) for r in notes[:3]] == [
            (1, 1, 60, 575), (1, 2, 60, 575), (1, 3, 67, 575)]
        texts = song.GetMIDIByType(core.EVT_META, core.TF_TICK)
        assert any(r.event.data == b"Melody" for r in texts)

    def test_analyses_and_vocabulary(self):
        song = loaded()
        assert [(i.byProgram, i.strName) for i in song.GetInstrument()] == [
            (73, "Flute"), (32, "Acoustic Bass"), (0, "Acoustic Grand")]
        assert len(song.CheckMidiByVoice(6)) == 47
        a = core.CMidiFolio.GetPitchInfo(440.0)
        assert (a.szName, a.byOctave, a.byNote) == ("A", 5, 69)
        assert core.CMidiFolio.GetPitchInfo("C#5").byNote == 61 and core.CMidiFolio.GetPitchInfo(-1) is None
        assert core.CMidiFolio.GetEasySymbol(72) == "1'"
        assert core.CMidiFolio.BpmToUsPB(120) == 500000 and core.CMidiFolio.BpmToUsPB(0) is None
        assert core.GetVersion() == midifolio.__version__

    def test_a_tempo_map_of_its_own(self):
        tempo = core.CMidiTempo()
        tempo.SetTicksPerQuarterNote(96)
        t = tempo.SetTempo(core._TEMPO(0, 0, 0, 250000))
        assert t.nBPM == 240
        tempo.ReCalculateTempolst()
        assert tempo.TicksToMsecs(96) == 250 and tempo.MsecsToTicks(500) == 192


def test_every_constant_of_the_event_record():
    assert (core.EVT_NOTEON, core.EVT_NOTEOFF, core.EVT_META, core.EVT_SYSEXESC) == (0x1, 0x2, 0x1000, 0x8000)
    assert (core.META_TEMPO, core.META_END_OF_TRACK, core.PERCUSSION_CHANNEL) == (0x51, 0x2F, 9)
    assert core.OwnsPayload(core.EVT_SYSEX) and not core.OwnsPayload(core.EVT_NOTEON)
    assert midifolio.EVT_NOTEON == core.EVT_NOTEON
    ev = core.MIDIEvent()
    ev.dwType = core.EVT_META
    ev.data = meta(0x01, b"x")
    assert ev.dwLength == 4
