#pragma once

#include "Talverin/App/LogJournal.h"

#include <atomic>
#include <memory>
#include <string>

namespace talverin {

// The one log function of the application: any thread, never fails, never waits for the disk.
// Each call is one line (line breaks and other controls in the message are escaped as the core
// log does), with no level; by habit it starts with its component and a colon ("Launch: ...").
//
// A call goes through the core log, so a test that collects lines (test::LogLines) sees the
// shell's lines too. The launch points the core log at this same function,
// `CoreLog::setSink(tlLog)`, and from then on every line of every module lands here: on
// standard error in the standard-error mode, otherwise in the journal and, stamped with the
// local time, in $XDG_STATE_HOME/Talverin/Talverin.log (see LogFile). Until the launch opens
// the log (tlLogOpen), such lines go to standard error and are kept for the file and the
// journal (see LogOutputs).
void tlLog(const std::string& message);

// The standard-error mode: lines go to standard error as they are, and no log file is opened,
// rotated or written. On from the start in a test program (so tests never touch the user's
// log) until a test turns it off; the process entry turns it on for the command-line modes.
extern std::atomic<bool> tlLogToStderr;

// Any thread. Where lines also go from now on; the launch installs the real journal or its
// Null backend. None is installed at first.
void tlLogSetJournal(std::shared_ptr<LogJournal> journal);

// Any thread. The launch calls this once it knows it is the only instance: the lines kept until
// now go to the journal and the file first, in order, and later lines go there directly.
// Nothing happens in the standard-error mode.
void tlLogOpen();

// Any thread but the log's own. Returns once the lines logged before are in the file, so that
// the last lines of a shutdown are not lost.
void tlLogFlush();

} // namespace talverin
