// The execution sequence's tests run the sample package's model through
// Excecute against Wine's spooler, files and registry, in the installer
// tests' prefix. The engine's dialogs are a stand-in that answers and records
// each call and never answers the restart question with Yes: a Yes would
// make Wine play the restart. RunOnce entries and everything the sequence
// leaves (Uninstall entry, records key, files, INF copies, working folder)
// go before and after each case.
#pragma once
#include "enginedialogs.h"
#include "enginefixture.h"
#include <string>
#include <vector>

extern const char kModel[];          // "Ostrel TZ-1000", the package's first model
extern const char kSecondModel[];    // "Ostrel TZ-2000", which shares most of its files
extern const char kProcessor[];      // its print processor's name
extern const char kProcessorFile[];  // the print processor's file, in ProcessorDirA()
extern const char kMonitorKey[];     // HKLM-relative key of jobtap's values
extern const char kRunOnceKey[];     // HKLM RunOnce
extern const char kUninstallKey[];   // HKLM's list of installed software
extern const char kRecordsKey[];     // the saved queue records of TZ.INF
extern const char *const kModelFiles[5];  // the model's files in the driver directory

class RecordingDialogs : public CEngineDialogs {
public:
    int AskRestart() override
    {
        calls.push_back("restart");
        return restartAnswer;
    }
    int ShowPlugUsb(const char *model, const char *port) override
    {
        calls.push_back(std::string("usb ") + (model ? model : "(null)") + "|" + (port ? port : "(null)"));
        return usbAnswer;
    }
    int restartAnswer = IDCANCEL;  // never IDOK
    int usbAnswer = IDOK;
    std::vector<std::string> calls;  // "restart", "usb <model>|<port>"
};

// A text value of an HKLM key without its terminator, or "(none)" when the
// key or value is missing.
std::string RegText(const std::string &key, const char *value);
std::string ProcessorDirA();              // the spooler's print processor directory
std::string KeptDirA();                   // the installer's kept copy of TZ.INF, under the programs folder
std::vector<std::string> RunOnceNames();  // the value names under HKLM RunOnce
std::vector<std::string> Records();       // saved queue records, "queue|port|driver", in record order
std::string Quoted(const std::string &text);
// A queue of the model as ReadSpooler lists it.
std::string Queue(const char *name, const char *port);
// The queue AddTestQueue made on LPT2:, as a reinstall puts it back: with
// its own print processor ("winprint"), not the package's.
extern const char kOfficeQueueBack[];

// What an install touches, read back from the spooler, the file system and
// the registry. The records key and the working folder are apart: they stay
// on purpose.
struct MachineState {
    SpoolerState spooler;
    std::vector<std::string> files;
    std::vector<std::string> keys;
    std::vector<std::string> records;
    std::vector<std::string> work;
};

// work: the working folder of TZ.INF. bWhole (the package test, once before
// and once after): every file of the system folder and of the INF folder,
// the kept copy's folder and the whole Uninstall key, not only the names an
// install is known to touch (too slow for every call of the fault sweep).
MachineState Snapshot(const std::string &work, bool bWhole = false);
std::string SystemDirA();
// A directory tree as "path|size" lines, in the order the file system lists
// them; with bRecurse false only the files of dir itself.
void ListFiles(const std::string &dir, std::vector<std::string> *out, bool bRecurse = true);
// The lines of b that a lacks ("+ ") and of a that b lacks ("- "); empty
// when the two lists are equal.
std::string Changes(const std::vector<std::string> &a, const std::vector<std::string> &b);
// The changes of everything but the records key and the working folder.
std::string Changes(const MachineState &a, const MachineState &b);

class ExecuteTest : public EngineTest {
protected:
    // The case's log is C:\kztdebug.txt, which the nested contexts write too.
    void SetUp() override;
    void TearDown() override;  // prints the whole log of a failed case

    void RemoveWhatTheSequenceLeaves();
    // Readies c for an operation on the model as the program does: the
    // program's location (this test program stands for it), the names,
    // SetupSysInfo, ParseInf, SetupSplInfo, the dialogs, and *mode set.
    void PrepareOperation(CInstallContext &c, const char *port, BOOL *mode);
    void SetProgram(CInstallContext &c);
    // An install of model on port that must succeed; the dialogs' calls cleared.
    void Install(const char *port = "LPT1:", const char *model = kModel);
    // The second phase as Windows starts it after the restart: the command
    // the first phase registered, read back by the command-line parser and
    // removed from RunOnce (Wine would run it at its next start), then the
    // program's steps and Excecute's result.
    BOOL RunSecondPhase(CInstallContext &c, const std::string &command);
    // RunSecondPhase up to Excecute, which is left to the caller.
    void PrepareSecondPhase(CInstallContext &c, const std::string &command);
    // Only the command line read and the program, log and dialogs set: the
    // context as the program has it before RunOperation.
    void PrepareSecondPhaseLine(CInstallContext &c, const std::string &command);
    // One operation on a model as the program runs it: c readied for model
    // on port with *mode set (PrepareRun), then Excecute's result.
    void PrepareRun(const char *model, const char *port, BOOL CInstallContext::*mode, CInstallContext &c);
    BOOL Run(const char *model, const char *port, BOOL CInstallContext::*mode, CInstallContext &c);
    BOOL Run(const char *model, const char *port, BOOL CInstallContext::*mode);
    // A first phase on LPT1: with the mode flag picked by mode (reinstall or
    // uninstall), the restart declined; then its second phase from the
    // command it registered. what names the operation in failures.
    void BothPhases(BOOL CInstallContext::*mode, const char *what);
    // What the first phase registers for the model on port with its switches.
    std::string SecondPhaseCommand(const char *port, const char *switches);
    // The working folder as a reinstall's first phase leaves it: every file
    // of the package.
    void FillWorkingFolder();
    bool ModelFilesInstalled();

    RecordingDialogs m_dialogs;
    std::string m_work;     // the working folder of TZ.INF
    std::string m_program;  // this test program, standing for the installer
};
