#pragma once

#include <cstdint>
#include <string>

#include "shellutil/failure.h"

namespace drovanta {

// Everything a conversion run tells its front-end, in the order it happens within one turn.
// Every call is also a point where a window may handle pending events; the command line and
// the tests need not.
class ConversionObserver {
 public:
  virtual ~ConversionObserver() = default;

  // A plain yield point between two steps of the run.
  virtual void yieldPoint() {}
  // True for a front-end whose yield points handle events (a window): a wait for another
  // program's mailbox lock then yields every few milliseconds, and a stop asked for meanwhile
  // ends the wait, instead of the run blocking in it.
  virtual bool handlesEvents() const { return false; }
  // Asked before each row: true ends the run there, so the last record written is whole.
  virtual bool stopRequested() { return false; }
  // Turn `row` (0-based) begins: the window moves its list's current cell to that row.
  virtual void turnStarted(long /*row*/) {}
  // The message file is open, before its first line is read; fileLength is the length of the
  // message bytes (for an .emlx file, without its count line and property list).
  virtual void messageOpened(std::uint64_t /*fileLength*/) {}
  // After each line read: the length of the message text so far (line ends it added included).
  virtual void lineRead(std::uint64_t /*textLength*/, std::uint64_t /*fileLength*/) {}
  // The record of row `row` is in its mailbox file.
  virtual void turnFinished(long /*row*/) {}
  // Row `row` could not be converted; the run goes on with the next row.
  virtual void turnFailed(long /*row*/, const Failure& /*failure*/) {}
  // Row `row` is not a message (an AppleDouble sidecar) and was left out; not a failure.
  virtual void turnSkipped(long /*row*/, const Notice& /*notice*/) {}
  // Row `row` is a message its mailbox held before the run began (RunOptions::newOnly): left
  // out, not a failure.
  virtual void turnAlreadyThere(long /*row*/) {}
  // Row `row` was converted, but something of it could not be restored (a missing attachment),
  // or its mailbox had to be mended first (the notice then names the mailbox).
  virtual void warned(long /*row*/, const Notice& /*notice*/) {}
  // Another program has been writing to the mailbox for a while; the run waits for it.
  virtual void mailboxBusy(long /*row*/, const std::string& /*mailboxPath*/) {}
};

}  // namespace drovanta
