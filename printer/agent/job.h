// One print job: what a processing thread of the agent does from the signal
// to the client's receipt of the ticket.
#pragma once

#include <string>

namespace vmshared {
class Reporter;
class SharedLog;
}  // namespace vmshared

namespace agent {

// What the agent's threads share; all of it outlives every job.
struct AgentContext {
    int majorVersion = 4;
    vmshared::SharedLog* log = nullptr;     // appends nothing while closed
    vmshared::Reporter* report = nullptr;   // caption "Vellumate agent"
    std::string programFolder;              // where preprocess, progress and vmrelay live
};

// The processing thread's body; sharedEvent is its argument (0 print event,
// 1 shared event).
void ProcessJob(const AgentContext& context, bool sharedEvent);

// What ProcessJob does once it holds the ticket's path (taken from the
// registry): reads the client settings and delivers the ticket; the thread's
// last purge of printed jobs included.
void DeliverTicket(const AgentContext& context, const std::string& ticket);

// Removes the jobs of the printer's queue that are completed. Nothing
// happens when the queue cannot be opened.
void PurgePrintedJobs();

}  // namespace agent
