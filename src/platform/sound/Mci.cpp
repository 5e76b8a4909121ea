#include "Mci.h"

#include "platform/TestHooks.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>
#include <dlfcn.h>
#include <fluidsynth.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef TOMOSHIBI_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace mci {
namespace {

constexpr double kGain = 0.7;
constexpr qint64 kLargestTune = 16 * 1024 * 1024;
// Output tried in this order; every desktop sound server speaks PulseAudio
// (PipeWire included), and plain ALSA covers the rest.
const char* const kDrivers[] = {"pulseaudio", "alsa"};
// TimGM6mb first: it loads in a tenth of a second and takes 6 MB; the other
// fonts are taken when it is missing.
const char* const kFonts[] = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",   "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf3/FluidR3_GM.sf3",
};

#define TOMOSHIBI_FLUID_CALLS(X)                                                                                   \
  X(fluid_set_log_function) X(new_fluid_settings) X(fluid_settings_setnum) X(new_fluid_synth) X(fluid_synth_sfload) \
  X(delete_fluid_audio_driver) X(delete_fluid_synth) X(delete_fluid_settings) X(fluid_synth_process)                \
  X(fluid_settings_setstr) X(new_fluid_audio_driver2) X(fluid_settings_getnum) X(fluid_synth_write_float)          \
  X(fluid_player_stop) X(delete_fluid_player) X(fluid_player_get_status) X(fluid_player_get_total_ticks)           \
  X(fluid_player_get_current_tick) X(new_fluid_player) X(fluid_player_add_mem) X(fluid_player_play)               \
  X(fluid_synth_all_notes_off)

// FluidSynth and the sound libraries below it (some forty) are loaded when
// the first tune is opened, not when the program starts: most starts never
// play a note, and loading them doubled the time the window took to come up.
struct FluidCalls {
#define TOMOSHIBI_FLUID_POINTER(name) decltype(&::name) name = nullptr;
  TOMOSHIBI_FLUID_CALLS(TOMOSHIBI_FLUID_POINTER)
#undef TOMOSHIBI_FLUID_POINTER
#ifdef TOMOSHIBI_HAVE_ALSA
  decltype(&::snd_lib_error_set_handler) snd_lib_error_set_handler = nullptr;
#endif
};

// The calls, or null when the library cannot be loaded (the music is then
// silent, with the notice of a missing sound font). Loaded once; never unloaded.
const FluidCalls* loadFluid() {
  static const FluidCalls* loaded = [] () -> const FluidCalls* {
    void* lib = dlopen(TOMOSHIBI_FLUIDSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    auto* calls = new FluidCalls;
    bool complete = true;
#define TOMOSHIBI_FLUID_RESOLVE(name)                                        \
  calls->name = reinterpret_cast<decltype(calls->name)>(dlsym(lib, #name)); \
  complete = complete && calls->name;
    TOMOSHIBI_FLUID_CALLS(TOMOSHIBI_FLUID_RESOLVE)
#undef TOMOSHIBI_FLUID_RESOLVE
#ifdef TOMOSHIBI_HAVE_ALSA
    // Loaded with FluidSynth; only looked up, never loaded for its own sake.
    if (void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD))
      calls->snd_lib_error_set_handler =
          reinterpret_cast<decltype(calls->snd_lib_error_set_handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
#endif
    if (!complete) {
      delete calls;
      return nullptr;
    }
    return calls;
  }();
  return loaded;
}

void quietFluid(int, const char*, void*) {}
#ifdef TOMOSHIBI_HAVE_ALSA
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

QString findFont(const QString& asked) {
  if (!asked.isEmpty()) return QFileInfo(asked).isFile() ? asked : QString();
  for (const char* f : kFonts)
    if (QFileInfo(QString::fromLatin1(f)).isFile()) return QString::fromLatin1(f);
  return {};
}

// The synthesizer and its output. The mutex `render` is held while the synth
// renders and while a player is made or deleted: FluidSynth forbids deleting
// a player while its synth renders in another thread.
struct Engine {
  const FluidCalls* fl = loadFluid();
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  QString font;
  bool fontLoaded = false;
  bool silentOnly = false;
  std::mutex render;

  std::thread output;
  fluid_audio_driver_t* driver = nullptr;  // set by the output thread before it ends
  std::mutex wakeMutex;
  std::condition_variable wake;
  std::atomic<bool> stopping{false};
  std::atomic<int> open{0};  // open devices: the silent output renders only while one is

  Engine(const Options& o) : silentOnly(o.silent) {
    font = findFont(o.soundFont);
    if (!fl) return;
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
      fl->fluid_set_log_function(level, quietFluid, nullptr);
#ifdef TOMOSHIBI_HAVE_ALSA
    if (fl->snd_lib_error_set_handler) fl->snd_lib_error_set_handler(quietAlsa);
#endif
    settings = fl->new_fluid_settings();
    fl->fluid_settings_setnum(settings, "synth.gain", kGain);
    // Audio is made in the output's own thread; the lock above is ours.
    synth = fl->new_fluid_synth(settings);
    if (synth && !font.isEmpty())
      fontLoaded = fl->fluid_synth_sfload(synth, QFile::encodeName(font).constData(), 1) != FLUID_FAILED;
  }

  ~Engine() {
    stopping = true;
    wake.notify_all();
    if (output.joinable()) output.join();
    if (driver) fl->delete_fluid_audio_driver(driver);
    if (synth) fl->delete_fluid_synth(synth);
    if (settings) fl->delete_fluid_settings(settings);
  }

  static int renderInto(void* data, int len, int nfx, float* fx[], int nout, float* out[]) {
    auto* e = static_cast<Engine*>(data);
    std::lock_guard lock(e->render);
    if (nfx == 0 && nout >= 2) {
      // The drivers hand no effect buffers: mix reverb and chorus into the dry ones.
      float* mixed[4] = {out[0], out[1], out[0], out[1]};
      return e->fl->fluid_synth_process(e->synth, len, 4, mixed, nout, out);
    }
    return e->fl->fluid_synth_process(e->synth, len, nfx, fx, nout, out);
  }

  void startOutput(std::function<void(const QString&)> notify) {
    if (output.joinable()) return;  // started already (the thread is joined only at the end)
    output = std::thread([this, notify] {
      if (!synth) {
        // Without the synthesizer's library there is nothing to play with.
        notify(noticeText(false));
        return;
      }
      if (!silentOnly) {
        for (const char* name : kDrivers) {
          fl->fluid_settings_setstr(settings, "audio.driver", name);
          if (fluid_audio_driver_t* d = fl->new_fluid_audio_driver2(settings, renderInto, this)) {
            driver = d;
            if (!fontLoaded) notify(noticeText(true));
            return;
          }
        }
      }
      // Asked to be silent, there is no device to miss.
      if (!silentOnly || !fontLoaded) notify(noticeText(silentOnly));
      renderSilently();
    });
  }

  QString noticeText(bool deviceFound) const {
    if (!fontLoaded && !deviceFound)
      return QStringLiteral("音源（General MIDI のサウンドフォント）と音を出す装置が見つからないため、BGM は鳴りません。");
    if (!fontLoaded)
      return QStringLiteral("音源（General MIDI のサウンドフォント）が見つからないため、BGM は鳴りません。"
                            "timgm6mb-soundfont を入れると鳴るようになります。");
    return QStringLiteral("音を出す装置が見つからないため、BGM は鳴りません（曲は無音で進みます）。");
  }

  // No sound device: the synth is run at the pace of a real one, into a
  // buffer nobody hears, so that tunes take their real time.
  void renderSilently() {
    constexpr int kBlock = 512;
    double rate = 44100;
    fl->fluid_settings_getnum(settings, "synth.sample-rate", &rate);
    const auto block = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(kBlock / rate));
    float left[kBlock], right[kBlock];
    auto next = std::chrono::steady_clock::now();
    while (!stopping) {
      if (open == 0) {
        std::unique_lock lock(wakeMutex);
        wake.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping || open > 0; });
        next = std::chrono::steady_clock::now();
        continue;
      }
      {
        std::lock_guard lock(render);
        fl->fluid_synth_write_float(synth, kBlock, left, 0, 1, right, 0, 1);
      }
      next += block;
      const auto now = std::chrono::steady_clock::now();
      if (now - next > std::chrono::seconds(1)) next = now;  // after a suspend: no rush to catch up
      std::this_thread::sleep_until(next);
    }
  }

  void deviceOpened() {
    {
      std::lock_guard lock(wakeMutex);
      ++open;
    }
    wake.notify_all();
  }
  void deviceClosed() { --open; }
};

struct Device {
  QByteArray midi;  // the file as read at open
  fluid_player_t* player = nullptr;
  bool playing = false;  // play given and no stop since
};

struct State {
  Options options;
  Engine* engine = nullptr;
  std::thread* warming = nullptr;
  Engine* warmed = nullptr;  // written by the warming thread, read after joining it
  QHash<QString, Device> devices;  // by lower-case name
  std::function<void(const QString&)> noticeHandler;
  QString pendingNotice;
  bool noticeGiven = false;
  bool cleanupRegistered = false;
};

// Never destroyed with the statics: threads are ended by shutdown(), run by
// the application object on its way out.
State& state() {
  static State* s = new State;
  return *s;
}

void registerCleanup() {
  State& s = state();
  if (s.cleanupRegistered || !QCoreApplication::instance()) return;
  s.cleanupRegistered = true;
  qAddPostRoutine([] {
    state().cleanupRegistered = false;
    shutdown();
  });
}

Engine& engine() {
  State& s = state();
  if (s.warming) {
    s.warming->join();
    delete s.warming;
    s.warming = nullptr;
    s.engine = s.warmed;
    s.warmed = nullptr;
  }
  if (!s.engine) s.engine = new Engine(s.options);
  registerCleanup();
  return *s.engine;
}

void giveNotice(const QString& text) {
  State& s = state();
  if (s.noticeGiven) return;
  if (!s.noticeHandler) {
    s.pendingNotice = text;
    return;
  }
  s.noticeGiven = true;
  s.noticeHandler(text);
}

// From the output thread to the thread of the application object.
void noticeFromOutput(const QString& text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, [text] { giveNotice(text); }, Qt::QueuedConnection);
}

// The words of a command; a double-quoted word may hold spaces.
QStringList words(const QString& command) {
  QStringList out;
  QString cur;
  bool quoted = false, any = false;
  for (QChar c : command) {
    if (c == u'"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && c.isSpace()) {
      if (any) out << cur;
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out << cur;
  return out;
}

void deletePlayer(Engine& e, Device& d) {
  if (!d.player) return;
  e.fl->fluid_player_stop(d.player);
  std::lock_guard lock(e.render);
  e.fl->delete_fluid_player(d.player);
  d.player = nullptr;
}

// The tune's notes are over once the player passed its last tick (FluidSynth
// itself goes on a while for the notes to fade; the tune is done already).
bool over(Device& d) {
  if (!d.player) return true;
  const FluidCalls* fl = loadFluid();  // loaded: there is a player
  if (fl->fluid_player_get_status(d.player) != FLUID_PLAYER_PLAYING) return true;
  const int total = fl->fluid_player_get_total_ticks(d.player);
  return total > 0 && fl->fluid_player_get_current_tick(d.player) >= total;
}

int startFromTop(Engine& e, Device& d) {
  deletePlayer(e, d);
  if (!e.synth) return kInvalidFile;
  const FluidCalls* fl = e.fl;
  std::lock_guard lock(e.render);
  d.player = fl->new_fluid_player(e.synth);
  if (!d.player) return kInvalidFile;
  if (fl->fluid_player_add_mem(d.player, d.midi.constData(), size_t(d.midi.size())) != FLUID_OK ||
      fl->fluid_player_play(d.player) != FLUID_OK) {
    fl->delete_fluid_player(d.player);
    d.player = nullptr;
    return kInvalidFile;
  }
  d.playing = true;
  return kOk;
}

int openDevice(const QStringList& w) {
  // open PATH [type sequencer] alias NAME
  if (w.size() < 2) return kMissingParameter;
  const QString path = w[1];
  QString name = path;
  for (int i = 2; i < w.size(); ++i) {
    const QString word = w[i].toLower();
    if (word == u"alias" && i + 1 < w.size()) {
      name = w[++i];
    } else if (word == u"type" && i + 1 < w.size()) {
      if (w[++i].toLower() != u"sequencer") return kUnsupported;
    } else {
      return kUnsupported;
    }
  }
  State& s = state();
  const QString key = name.toLower();
  if (s.devices.contains(key)) return kDuplicateAlias;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return kFileNotFound;
  // A tune is a few kilobytes; a large file is not read into memory at all.
  if (f.size() > kLargestTune) return kInvalidFile;
  Device d;
  d.midi = f.readAll();
  if (!d.midi.startsWith("MThd")) return kInvalidFile;
  Engine& e = engine();
  s.devices.insert(key, d);
  e.deviceOpened();
  e.startOutput(noticeFromOutput);
  return kOk;
}

}  // namespace

void prepare() {
  State& s = state();
  if (s.engine || s.warming) return;
  registerCleanup();
  const Options o = s.options;
  s.warming = new std::thread([o] { state().warmed = new Engine(o); });
}

void shutdown() {
  State& s = state();
  if (s.warming || s.engine) {
    Engine& e = engine();
    for (Device& d : s.devices) deletePlayer(e, d);
  }
  s.devices.clear();
  delete s.engine;
  s.engine = nullptr;
  s.noticeGiven = false;
  s.pendingNotice.clear();
}

void setNoticeHandler(std::function<void(const QString&)> handler) {
  State& s = state();
  s.noticeHandler = std::move(handler);
  if (s.noticeHandler && !s.pendingNotice.isEmpty() && !s.noticeGiven) {
    const QString text = s.pendingNotice;
    s.pendingNotice.clear();
    giveNotice(text);
  }
}

void setOptions(const Options& options) { state().options = options; }

QString soundFontPath() {
  State& s = state();
  if (s.engine) return s.engine->fontLoaded ? s.engine->font : QString();
  return findFont(s.options.soundFont);
}

double synthGain() { return kGain; }

}  // namespace mci

int mciSendString(const QString& command, QString* reply) {
  using namespace mci;
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::mciCommand) testhooks::mciCommand(command);
#endif
  if (reply) reply->clear();
  const QStringList w = words(command);
  if (w.isEmpty()) return kUnrecognizedCommand;
  const QString verb = w[0].toLower();
  if (verb == u"open") return openDevice(w);
  if (verb != u"play" && verb != u"status" && verb != u"stop" && verb != u"close") return kUnrecognizedCommand;
  if (w.size() < 2) return kMissingParameter;

  State& s = state();
  auto it = s.devices.find(w[1].toLower());
  if (it == s.devices.end()) return kInvalidDeviceName;
  Device& d = *it;
  Engine& e = engine();

  if (verb == u"play") {
    if (w.size() == 2) {
      // Go on from where "stop" left it, or from the top when the tune is over.
      if (d.player && !d.playing &&
          e.fl->fluid_player_get_current_tick(d.player) < e.fl->fluid_player_get_total_ticks(d.player)) {
        e.fl->fluid_player_play(d.player);
        d.playing = true;
        return kOk;
      }
      if (d.playing && !over(d)) return kOk;
      return startFromTop(e, d);
    }
    if (w.size() == 4 && w[2].toLower() == u"from") {
      bool number = false;
      const int from = w[3].toInt(&number);
      if (!number || from < 0) return kMissingParameter;
      if (from != 0) return kUnsupported;  // only the top of the tune is offered
      return startFromTop(e, d);
    }
    return kUnsupported;
  }
  if (verb == u"status") {
    if (w.size() != 3 || w[2].toLower() != u"mode") return kUnsupported;
    if (reply) *reply = d.playing && !over(d) ? QStringLiteral("playing") : QStringLiteral("stopped");
    return kOk;
  }
  if (verb == u"stop") {
    if (w.size() != 2) return kUnsupported;
    if (d.player) {
      e.fl->fluid_player_stop(d.player);
      e.fl->fluid_synth_all_notes_off(e.synth, -1);
    }
    d.playing = false;
    return kOk;
  }
  // close
  if (w.size() != 2) return kUnsupported;
  deletePlayer(e, d);
  if (e.synth) e.fl->fluid_synth_all_notes_off(e.synth, -1);
  s.devices.erase(it);
  e.deviceClosed();
  return kOk;
}
