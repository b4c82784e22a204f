// midifolio: read, edit, analyse and write Standard MIDI Files.
#pragma once

#include "midifolio/analysis_types.h"
#include "midifolio/edit.h"
#include "midifolio/event_kinds.h"
#include "midifolio/export.h"
#include "midifolio/file_output.h"
#include "midifolio/load_report.h"
#include "midifolio/midi_event.h"
#include "midifolio/midi_folio.h"
#include "midifolio/midi_tempo.h"
#include "midifolio/midi_track.h"
#include "midifolio/names.h"
#include "midifolio/platform.h"
#include "midifolio/score.h"
#include "midifolio/song.h"
#include "midifolio/time_format.h"
#include "midifolio/vocabulary_types.h"
