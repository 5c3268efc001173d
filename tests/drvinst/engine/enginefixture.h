// The install engine's tests run against Wine's real spooler and registry, in
// a prefix of their own. Each case starts from a spooler without the
// sample's components and without RunOnce entries, and works on a copy of
// the sample driver package made of the built binaries.
#pragma once
#include "contextfixture.h"
#include <string>
#include <vector>

class EngineTest : public ContextTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Readies a context for a model of the package's INF (or of another INF):
    // names, SetupSysInfo, ParseInf, SetupSplInfo. The log goes to the case's file.
    void Prepare(CInstallContext &c, const char *model, const char *port = "LPT1:", const char *queue = nullptr,
                 const std::string &inf = "");
    // Puts the model's files where its install section sends them, as the
    // engine's file copy does.
    void CopyModelFiles(const CInstallContext &c);
    // A line of the log that begins with start (messages as TakeLog gives them).
    bool LogHasStart(const std::string &start);

    std::string m_package;  // the package folder: TZ.INF and every file it names
};

// Removes what the tests add to the spooler: queues and drivers whose names
// begin with "Ostrel" or "kzt", the monitor "jobtap" and the package's print
// processor. Also RunOnce entries of any kind, which would block the next start.
void ResetSpooler();
void RemoveRunOnceEntries();
// Drops the file moves a case left for the restart (Wine makes them at its next start).
void RemovePendingRenames();

// The spooler's state as the spooler report it.
struct SpoolerState {
    std::vector<std::string> queues;      // "name|port|driver|print processor|data type"
    std::vector<std::string> drivers;     // names
    std::vector<std::string> monitors;    // names
    std::vector<std::string> processors;  // names
};
SpoolerState ReadSpooler();
bool Has(const std::vector<std::string> &list, const std::string &item);
// The queue names that start with prefix, in the spooler's order.
std::vector<std::string> QueuesStartingWith(const std::string &prefix);
// Adds a queue for an installed driver under a name of the caller's choice.
bool AddTestQueue(const std::string &name, const std::string &driver, const std::string &port = "LPT1:");
bool DeleteTestQueue(const std::string &name);
