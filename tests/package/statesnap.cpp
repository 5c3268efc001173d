// statesnap: what an install of the package touches, as one line per item on
// standard output (the spooler's queues, drivers, monitors and print
// processors, the files of the driver, processor, system, INF and kept-copy
// folders, the registry keys the installer writes), for the package test to
// compare before the install and after the uninstall. The saved queue
// records stay on purpose and are left out.
#include "executefixture.h"
#include <stdio.h>

int main()
{
    MachineState s = Snapshot(KeptDirA(), true);
    const struct {
        const char *kind;
        const std::vector<std::string> *list;
    } kLists[] = {{"queue", &s.spooler.queues},       {"driver", &s.spooler.drivers}, {"monitor", &s.spooler.monitors},
                  {"processor", &s.spooler.processors}, {"file", &s.files},           {"key", &s.keys}};
    for (const auto &l : kLists)
        for (const std::string &item : *l.list)
            printf("%s %s\n", l.kind, item.c_str());
    return 0;
}
