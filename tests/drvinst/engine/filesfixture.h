// The engine's file and registry operations run against Wine's real file
// system, registry and spooler, in the installer tests' prefix. Everything a
// case creates carries "kztf" in its name (files, drivers, queues, INF
// copies "OstrelKZTF*" and "oemkztf*.inf") and goes away before and after
// each case, with the registry key kTestKey.
#pragma once
#include "enginefixture.h"
#include <string>

extern const char kModel[];    // "kztf Model": the model of the test INFs
extern const char kTestKey[];  // HKLM-relative key the registry cases write under

class FilesTest : public EngineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes an INF for kModel (install section KZTF.Install with the lines
    // of install) followed by the other sections, into dir (the scratch
    // folder by default), and makes it the fixture context's INF.
    std::string WriteModelInf(const std::string &install, const std::string &sections,
                              const std::string &name = "KZTFILES.INF", const std::string &dir = "");
    // Readies a context for a model of a test INF as the engine needs it.
    void PrepareInf(CInstallContext &c, const std::string &inf, const char *model = kModel)
    {
        Prepare(c, model, "LPT1:", nullptr, inf);
    }
    // A copy of the stand-in driver UI library (a real DLL with the exports
    // Wine's spooler calls) under another name, in dir.
    std::string CopyStub(const std::string &dir, const std::string &name);

    std::string m_dest;    // C:\windows\kztfiles, created empty for each case
    std::string m_drvDir;  // the spooler's printer-driver directory
    std::string m_infDir;  // the system INF directory
};

// "E <code> <system text>" as a log line shows it (line break removed).
std::string ErrorTail(DWORD dwError);
// A file's attribute bits as a log line prints them, or -1.
std::string AttrText(const std::string &path);
// The system's INF directory the engine uses as it stands in the registry,
// replaced by a value of the case's choosing for as long as the object lives.
class DevicePathOverride {
public:
    explicit DevicePathOverride(const std::string &value);
    ~DevicePathOverride();

private:
    bool m_had = false;
    DWORD m_type = 0;
    std::string m_saved;
};
