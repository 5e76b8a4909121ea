#pragma once
// Music through command strings, in the shape the windows use:
//   open "PATH" alias NAME      play NAME [from 0]      status NAME mode
//   stop NAME                   close NAME
// A MIDI file is played by FluidSynth through a General MIDI sound font, in
// FluidSynth's own audio thread: no command waits for the music. Without a
// sound device the tune is played silently in real time, so that its mode
// still turns to "stopped" when it ends; without a sound font it is played
// silently too. Either is told once through the notice handler.
//
// Commands come from the user-interface thread only.
#include <QString>
#include <functional>

namespace mci {

// Results of mciSendString: 0, or why the command did nothing.
enum Error : int {
  kOk = 0,
  kUnrecognizedCommand = 261,
  kInvalidDeviceName = 263,  // no device of that name is open
  kMissingParameter = 273,
  kFileNotFound = 275,
  kUnsupported = 274,  // a command word or argument this layer does not offer
  kDuplicateAlias = 289,
  kInvalidFile = 296,  // not a standard MIDI file
};

// Starts the synthesizer and loads the sound font in the background, so
// that the first tune starts at once. Optional: a command before it is done
// waits for it; without it the first open does the work.
void prepare();

// Ends every device, the audio output and the synthesizer. The next command
// starts afresh (with the options in force then).
void shutdown();

// The text of the one notice about missing sound (no sound font, no sound
// device) goes to `handler`, on the thread of the application object, the
// first time a tune is opened without it. A notice that came before any
// handler was set is handed to the next one set.
void setNoticeHandler(std::function<void(const QString&)> handler);

// Where the sound comes from; read when the synthesizer starts.
struct Options {
  QString soundFont;    // empty: the first General MIDI font installed
  bool silent = false;  // true: never open a sound device
};
void setOptions(const Options& options);
// The sound font the synthesizer uses (or will use); empty when none is found.
QString soundFontPath();
// The synthesizer's output gain (the file renderer of the tests uses it too).
double synthGain();

}  // namespace mci

// Sends one command; `reply` (when given) receives the answer of "status",
// and is emptied for every other command and for every failure.
int mciSendString(const QString& command, QString* reply = nullptr);
