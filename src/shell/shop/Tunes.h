#pragma once
// The shop's two tunes as note lists, and the standard MIDI files made from
// them. Plain C++ without Qt: the build runs it as a small tool to write
// "Sound/Kouka.mid" and "Sound/Kouka2.mid", and the tests measure the
// rendered tunes against the lengths these lists give.
#include <cstdint>
#include <string>
#include <vector>

namespace tunes {

constexpr int kTicksPerQuarter = 480;

struct Note {
  std::vector<int> keys;  // MIDI key numbers; none for a rest
  int ticks = 0;
};

struct Part {
  int channel = 0;  // 9 is the percussion channel
  int program = 0;  // General MIDI program (ignored on the percussion channel)
  int volume = 100;
  int velocity = 90;
  std::vector<Note> notes;
};

struct TempoChange {
  int tick = 0;
  double bpm = 120;
};

struct Tune {
  std::string fileName;  // below the program folder's "Sound"
  std::string title;
  int beatsPerBar = 4;  // quarter notes
  std::vector<TempoChange> tempi;
  std::vector<Part> parts;
};

// Notes written as text, one bar between bar lines: "E5:q D5:e. r:s | ...".
// A note is a name with octave (C4 is key 60; "#" and "b" alter it), a key
// number, "r" for a rest, or a chord "[E3 G3 B3]", then ":" and a length:
// w, h, q, e, s (whole to sixteenth), "." adding a half. Every bar must hold
// exactly `beatsPerBar` quarters; a bar that does not is reported in `error`.
std::vector<Note> parseNotes(const std::string& text, int beatsPerBar, std::string* error);

// Chord names per bar ("Em Bm G ..."), laid out by a pattern of the meter:
// a bass note on the first beat, the chord on the others.
std::vector<Note> accompaniment(const std::string& chords, int beatsPerBar, std::string* error);

// 宵待ち草 (Kouka.mid) and ドンパン節 (Kouka2.mid). `error` names the first
// fault of the lists (a bar of the wrong length, parts of unequal length).
std::vector<Tune> shopTunes(std::string* error);

// How long the tune plays, in seconds, by its tempo map: the parts all end
// together where the last note ends.
double lengthSeconds(const Tune& tune);
int lengthTicks(const Tune& tune);

// A standard MIDI file (format 1): the tempo map, then one track per part.
std::vector<std::uint8_t> toSmf(const Tune& tune);

}  // namespace tunes
