// The one document of a run that is loaded ahead: the converter names the
// file it opens next while the office would sit idle, and the office loads
// it on a thread of ours. The Open that asks for the same file (the same
// absolute path, size and time of change, kind and read-only flag, in the
// same office) takes the document over, waiting for a load still under way.
// Any other Open, a new announcement and the run's end close it unasked.
// Documents the client is done with are closed in the background too.
// A load ahead that fails says nothing: the Open loads again and reports
// its own error.
//
// Lines of $VELLUMATE_OFFICE_LOG: "ahead loading PATH" when a load ahead
// begins, "ahead adopted PATH" when an Open takes it over, "ahead closed
// PATH" when it is closed unasked.
#pragma once

#include <memory>
#include <string>

#include "office_document.h"

namespace vmoffice::lookahead {

// Starts loading `path` in the background in `session`'s office, once what
// an earlier announcement loaded is closed.
void Announce(std::shared_ptr<OfficeSession> session, Kind kind, const std::string& path, bool readOnly);

// The document loaded ahead for exactly this Open (waited for); null when
// there is none, and whatever was loaded ahead is then closed.
std::unique_ptr<OfficeDocument> Take(const std::shared_ptr<OfficeSession>& session, Kind kind,
                                     const std::string& path, bool readOnly);

// Closes whatever was loaded ahead, waiting for a load under way (its time
// is bounded by the session's watchdog), and waits for the closes below.
void Drop();

// Closes a document the client is done with on a thread of ours: the
// client goes on (imports its pages) while the office closes it. A failed
// close is not reported, as it never was.
void CloseInBackground(std::unique_ptr<OfficeDocument> doc);

// Waits for the closes under way, so that an office that hung in one is
// known as broken before a new application object takes it.
void Settle();

}  // namespace vmoffice::lookahead
