// A job whose registry key is gone by the time its client settings are read
// (it was there when the ticket's path was taken): the agent cannot make the
// key vanish between those two reads on cue, so the delivery is driven here
// directly, from the ticket onwards.
#include "job.h"

#include "printer/shared/report.h"
#include "printer/shared/shared_log.h"

#include "platform/profile.h"

#include "test_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using vmtest::ReadFile;

TEST(AgentJob, AMissingKeyAtTheClientSettingsSays111AndKeepsTicketAndPages) {
    char tmpl[] = "/tmp/vmagentjob-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    const std::string dir = tmpl;
    setenv("VELLUMATE_REGISTRY", (dir + "/empty registry").c_str(), 1);
    setenv("VELLUMATE_MSGBOX_LOG", (dir + "/boxes.jsonl").c_str(), 1);
    setenv("VELLUMATE_UI", "none", 1);
    setenv("CUPS_SERVER", (dir + "/no-cups.sock").c_str(), 1);
    unsetenv("VELLUMATE_MSGBOX_ANSWER");

    const std::string ticket = dir + "/j1.INI", page = dir + "/~emfj1-0.emf";
    std::ofstream(page) << "page";
    platform::ProfileSetString(ticket, "EMF", "Count", "1");
    platform::ProfileSetString(ticket, "EMF", "File0", page);

    vmshared::SharedLog log;  // closed: no log lines
    vmshared::Reporter report("Vellumate agent", &log, false, 0);
    agent::AgentContext context;
    context.log = &log;
    context.report = &report;
    context.programFolder = dir;  // no helper programs: none may be reached
    agent::DeliverTicket(context, ticket);

    const std::string boxes = ReadFile(dir + "/boxes.jsonl");
    EXPECT_NE(boxes.find("\"caption\":\"Vellumate agent\""), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("has not been properly configured. Please re-install"), std::string::npos) << boxes;
    EXPECT_EQ(boxes.find("Cannot find converter executable."), std::string::npos) << boxes;
    EXPECT_TRUE(fs::exists(ticket));
    EXPECT_TRUE(fs::exists(page));
    fs::remove_all(dir);
}

}  // namespace
