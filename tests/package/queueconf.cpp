// queueconf: a queue as the package test configures and compares it.
//   queueconf add QUEUE DRIVER PORT   adds a queue
//   queueconf set QUEUE               gives it a setting of every kind (its
//                                     access list aside: Wine keeps none)
//   queueconf show QUEUE              prints its settings, one per line
// Exit code 0 when the step worked.
#include "enginefixture.h"
#include "queuesettingsfixture.h"
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc == 5 && !strcmp(argv[1], "add"))
        return AddTestQueue(argv[2], argv[3], argv[4]) ? 0 : 1;
    if (argc == 3 && !strcmp(argv[1], "set"))
        return ConfigureQueue(argv[2], false) ? 0 : 1;
    if (argc == 3 && !strcmp(argv[1], "show")) {
        std::string settings = QueueSettings(argv[2], nullptr);
        fputs(settings.c_str(), stdout);
        return settings == "(no queue)" ? 1 : 0;
    }
    fputs("usage: queueconf add QUEUE DRIVER PORT | set QUEUE | show QUEUE\n", stderr);
    return 2;
}
