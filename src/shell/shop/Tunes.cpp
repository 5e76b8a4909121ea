#include "Tunes.h"

#include <cctype>
#include <map>
#include <sstream>

namespace tunes {
namespace {

int keyOf(const std::string& name, bool* ok) {
  *ok = false;
  if (name.empty()) return 0;
  if (std::isdigit(static_cast<unsigned char>(name[0]))) {
    *ok = true;
    for (char c : name)
      if (!std::isdigit(static_cast<unsigned char>(c))) *ok = false;
    const int k = *ok ? std::stoi(name) : 0;
    *ok = *ok && k <= 127;
    return k;
  }
  static const std::map<char, int> steps = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5}, {'G', 7}, {'A', 9}, {'B', 11}};
  auto it = steps.find(name[0]);
  if (it == steps.end()) return 0;
  int key = it->second;
  size_t i = 1;
  if (i < name.size() && (name[i] == '#' || name[i] == 'b')) key += name[i++] == '#' ? 1 : -1;
  if (i + 1 != name.size() || !std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  key += (name[i] - '0' + 1) * 12;
  *ok = key >= 0 && key <= 127;
  return key;
}

int ticksOf(const std::string& len, bool* ok) {
  *ok = false;
  if (len.empty()) return 0;
  static const std::map<char, int> base = {{'w', 4 * kTicksPerQuarter}, {'h', 2 * kTicksPerQuarter},
                                           {'q', kTicksPerQuarter},     {'e', kTicksPerQuarter / 2},
                                           {'s', kTicksPerQuarter / 4}};
  auto it = base.find(len[0]);
  if (it == base.end()) return 0;
  int t = it->second, add = t / 2;
  for (size_t i = 1; i < len.size(); ++i) {
    if (len[i] != '.') return 0;
    t += add;
    add /= 2;
  }
  *ok = true;
  return t;
}

bool fail(std::string* error, const std::string& what) {
  if (error && error->empty()) *error = what;
  return false;
}

}  // namespace

std::vector<Note> parseNotes(const std::string& text, int beatsPerBar, std::string* error) {
  std::vector<Note> notes;
  const int barTicks = beatsPerBar * kTicksPerQuarter;
  int bar = 1, inBar = 0;
  std::string token;
  auto closeBar = [&]() {
    if (inBar != 0 && inBar != barTicks)
      fail(error, "bar " + std::to_string(bar) + " holds " + std::to_string(inBar) + " ticks, not " + std::to_string(barTicks));
    if (inBar != 0) ++bar;
    inBar = 0;
  };
  std::string spaced;
  for (char c : text) spaced += c == '|' ? std::string(" | ") : std::string(1, c);
  std::istringstream in(spaced);
  // Chords hold spaces: read up to the closing bracket as one token.
  while (in >> token) {
    if (token == "|") {
      closeBar();
      continue;
    }
    if (token[0] == '[') {
      std::string rest;
      while (token.find(']') == std::string::npos && in >> rest) token += " " + rest;
    }
    const size_t colon = token.rfind(':');
    if (colon == std::string::npos) {
      fail(error, "no length in \"" + token + "\"");
      continue;
    }
    bool ok = false;
    Note n;
    n.ticks = ticksOf(token.substr(colon + 1), &ok);
    if (!ok) fail(error, "bad length in \"" + token + "\"");
    std::string pitch = token.substr(0, colon);
    if (pitch != "r") {
      if (pitch.front() == '[' && pitch.back() == ']') pitch = pitch.substr(1, pitch.size() - 2);
      std::istringstream keys(pitch);
      std::string k;
      while (keys >> k) {
        n.keys.push_back(keyOf(k, &ok));
        if (!ok) fail(error, "bad note \"" + k + "\"");
      }
    }
    notes.push_back(n);
    inBar += n.ticks;
    if (inBar > barTicks) closeBar();
  }
  closeBar();
  return notes;
}

std::vector<Note> accompaniment(const std::string& chords, int beatsPerBar, std::string* error) {
  // Bass key and the chord above it.
  static const std::map<std::string, std::vector<int>> shapes = {
      {"Em", {40, 52, 55, 59}}, {"Bm", {47, 50, 54, 59}}, {"G", {43, 55, 59, 62}}, {"Am", {45, 57, 60, 64}},
      {"D", {38, 54, 57, 62}},  {"A", {45, 57, 61, 64}},  {"B7", {47, 51, 54, 57}}, {"C", {48, 55, 60, 64}},
  };
  std::vector<Note> notes;
  std::string spaced;
  for (char c : chords) spaced += c == '|' ? std::string(" | ") : std::string(1, c);
  std::istringstream in(spaced);
  std::string name;
  while (in >> name) {
    if (name == "|") continue;
    if (name == "-") {  // a bar of silence
      notes.push_back(Note{{}, beatsPerBar * kTicksPerQuarter});
      continue;
    }
    auto it = shapes.find(name);
    if (it == shapes.end()) {
      fail(error, "unknown chord \"" + name + "\"");
      continue;
    }
    const std::vector<int>& s = it->second;
    notes.push_back(Note{{s[0]}, kTicksPerQuarter});
    for (int beat = 1; beat < beatsPerBar; ++beat) notes.push_back(Note{{s[1], s[2], s[3]}, kTicksPerQuarter});
  }
  return notes;
}

int lengthTicks(const Tune& tune) {
  int longest = 0;
  for (const Part& p : tune.parts) {
    int t = 0;
    for (const Note& n : p.notes) t += n.ticks;
    if (t > longest) longest = t;
  }
  return longest;
}

double lengthSeconds(const Tune& tune) {
  const int end = lengthTicks(tune);
  double seconds = 0, bpm = 120;
  int at = 0;
  for (const TempoChange& c : tune.tempi) {
    if (c.tick >= end) break;
    seconds += double(c.tick - at) / kTicksPerQuarter * 60.0 / bpm;
    at = c.tick;
    bpm = c.bpm;
  }
  return seconds + double(end - at) / kTicksPerQuarter * 60.0 / bpm;
}

namespace {

void varLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t bytes[5];
  int n = 0;
  bytes[n++] = v & 0x7F;
  while (v >>= 7) bytes[n++] = 0x80 | (v & 0x7F);
  while (n) out.push_back(bytes[--n]);
}

void be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back((v >> s) & 0xFF);
}

void chunk(std::vector<std::uint8_t>& out, const char* id, const std::vector<std::uint8_t>& body) {
  out.insert(out.end(), id, id + 4);
  be32(out, std::uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

void endOfTrack(std::vector<std::uint8_t>& t, std::uint32_t delta) {
  varLen(t, delta);
  t.insert(t.end(), {0xFF, 0x2F, 0x00});
}

}  // namespace

std::vector<std::uint8_t> toSmf(const Tune& tune) {
  std::vector<std::uint8_t> file;
  std::vector<std::uint8_t> header;
  const std::uint16_t tracks = std::uint16_t(1 + tune.parts.size());
  header.insert(header.end(), {0x00, 0x01, std::uint8_t(tracks >> 8), std::uint8_t(tracks & 0xFF),
                               std::uint8_t(kTicksPerQuarter >> 8), std::uint8_t(kTicksPerQuarter & 0xFF)});
  chunk(file, "MThd", header);

  const std::uint32_t end = std::uint32_t(lengthTicks(tune));
  std::vector<std::uint8_t> map;
  varLen(map, 0);
  map.insert(map.end(), {0xFF, 0x58, 0x04, std::uint8_t(tune.beatsPerBar), 0x02, 24, 8});
  varLen(map, 0);
  map.insert(map.end(), {0xFF, 0x03, std::uint8_t(tune.title.size())});
  map.insert(map.end(), tune.title.begin(), tune.title.end());
  std::uint32_t at = 0;
  for (const TempoChange& c : tune.tempi) {
    varLen(map, std::uint32_t(c.tick) - at);
    at = std::uint32_t(c.tick);
    const std::uint32_t us = std::uint32_t(60000000.0 / c.bpm + 0.5);
    map.insert(map.end(), {0xFF, 0x51, 0x03, std::uint8_t(us >> 16), std::uint8_t(us >> 8), std::uint8_t(us)});
  }
  endOfTrack(map, end - at);
  chunk(file, "MTrk", map);

  for (const Part& p : tune.parts) {
    std::vector<std::uint8_t> t;
    const std::uint8_t ch = std::uint8_t(p.channel & 0x0F);
    if (p.channel != 9) {
      varLen(t, 0);
      t.insert(t.end(), {std::uint8_t(0xC0 | ch), std::uint8_t(p.program)});
    }
    varLen(t, 0);
    t.insert(t.end(), {std::uint8_t(0xB0 | ch), 7, std::uint8_t(p.volume)});
    varLen(t, 0);
    t.insert(t.end(), {std::uint8_t(0xB0 | ch), 91, 40});  // a little room
    std::uint32_t pending = 0, played = 0;
    for (const Note& n : p.notes) {
      if (n.keys.empty()) {
        pending += std::uint32_t(n.ticks);
        played += std::uint32_t(n.ticks);
        continue;
      }
      // Let go a little early so repeated keys sound as two notes.
      const std::uint32_t gap = n.ticks >= 120 ? 24 : 8;
      for (int k : n.keys) {
        varLen(t, pending);
        pending = 0;
        t.insert(t.end(), {std::uint8_t(0x90 | ch), std::uint8_t(k), std::uint8_t(p.velocity)});
      }
      pending = std::uint32_t(n.ticks) - gap;
      for (int k : n.keys) {
        varLen(t, pending);
        pending = 0;
        t.insert(t.end(), {std::uint8_t(0x80 | ch), std::uint8_t(k), 0x40});
      }
      pending = gap;
      played += std::uint32_t(n.ticks);
    }
    endOfTrack(t, pending + (end - played));
    chunk(file, "MTrk", t);
  }
  return file;
}

std::vector<Tune> shopTunes(std::string* error) {
  std::vector<Tune> out;

  // 宵待草 (music by 多忠亮, 1917; lyrics by 竹久夢二), in E minor, 3/4: the
  // melody on a flute over a plucked guitar, the last line slower.
  {
    Tune t;
    t.fileName = "Kouka.mid";
    t.title = "Yoimachigusa";
    t.beatsPerBar = 3;
    t.tempi = {{0, 84}, {16 * 3 * kTicksPerQuarter, 66}};
    Part melody{0, 73, 110, 96, {}};
    melody.notes = parseNotes(
        // 待てど暮らせど来ぬ人を
        "E5:q E5:q D5:q | B4:h A4:q | B4:q D5:q E5:q | B4:h. |"
        "G4:q A4:q B4:q | A4:q. G4:e E4:q | D4:q E4:q G4:q | A4:h. |"
        // 宵待草のやるせなさ
        "B4:q B4:q D5:q | E5:h D5:q | B4:q A4:q B4:q | G4:h. |"
        "A4:q B4:q A4:q | G4:q E4:q D4:q | E4:h. | E4:h r:q |"
        // 今宵は月も出ぬさうな
        "E5:q E5:q G5:q | F#5:h E5:q | D5:q B4:q D5:q | E5:h. |"
        "B4:q A4:q G4:q | A4:h B4:q | E4:h. | E4:h. |",
        t.beatsPerBar, error);
    Part guitar{1, 24, 80, 70, {}};
    guitar.notes = accompaniment(
        "Em Bm Em Em | G Am G Am | Em Am Em G | Am Em Em Em |"
        "Em D G Em | Em Am Em Em",
        t.beatsPerBar, error);
    t.parts = {melody, guitar};
    out.push_back(t);
  }

  // ドンパン節 (folk song of Akita), in D major, 2/4: the melody on a
  // shamisen over bass and chords; the drum and the clap sing along with
  // "ドンドンパンパン".
  {
    Tune t;
    t.fileName = "Kouka2.mid";
    t.title = "Donpan-bushi";
    t.beatsPerBar = 2;
    t.tempi = {{0, 112}};
    const std::string verse =
        "A4:e A4:e B4:e A4:e | F#4:e E4:e D4:q | E4:e F#4:e A4:e B4:e | A4:h |"
        "D5:e D5:e B4:e A4:e | B4:e A4:e F#4:q | E4:e F#4:e E4:e D4:e | E4:h |"
        "A4:e A4:e B4:e D5:e | B4:e A4:e F#4:q | A4:e F#4:e E4:e D4:e | E4:q. r:e |";
    const std::string chorus =
        "D5:e D5:e B4:e B4:e | A4:e B4:e A4:q | A4:e A4:e F#4:e F#4:e | E4:e F#4:e E4:q |"
        "D4:s D4:s E4:s E4:s D4:s D4:s E4:s E4:s | F#4:e E4:e D4:q |";
    const std::string rest2 = "r:h | r:h |";
    Part melody{0, 106, 110, 100, {}};
    melody.notes = parseNotes(rest2 + verse + chorus + verse + chorus + "D4:h |", t.beatsPerBar, error);
    const std::string verseChords = "D D A A | D D A A | D D A D |";
    const std::string chorusChords = "G D D A | D D |";
    Part band{1, 107, 85, 72, {}};
    band.notes = accompaniment("- - " + verseChords + chorusChords + verseChords + chorusChords + "D", t.beatsPerBar, error);
    // 35 bass drum ("ドン"), 39 hand clap ("パン").
    const std::string beat = "35:q 39:q |";
    std::string verseDrums;
    for (int i = 0; i < 12; ++i) verseDrums += beat;
    const std::string chorusDrums =
        "35:e 35:e 39:e 39:e | 35:e 39:e 39:q | 35:e 35:e 39:e 39:e | 35:e 39:e 39:q |"
        "35:s 35:s 39:s 39:s 35:s 35:s 39:s 39:s | 35:e 39:e 39:q |";
    Part drums{9, 0, 90, 88, {}};
    drums.notes = parseNotes("35:q 39:q | 35:e 35:e 39:q |" + verseDrums + chorusDrums + verseDrums + chorusDrums + "35:h |",
                             t.beatsPerBar, error);
    t.parts = {melody, band, drums};
    out.push_back(t);
  }

  for (const Tune& t : out) {
    for (const Part& p : t.parts) {
      int ticks = 0;
      for (const Note& n : p.notes) ticks += n.ticks;
      if (ticks != lengthTicks(t)) fail(error, t.fileName + ": parts of unequal length");
    }
  }
  return out;
}

}  // namespace tunes
