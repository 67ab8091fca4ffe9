// Load and save of 10,000 commands through the real settings file (target: each under 100 ms): a save
// that rewrites every row, a save after one edit, and a load.
#include "store/settingsstore.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main() {
    QTemporaryDir dir;
    AgentSettings settings{"Welcome To Vorlix", "(default)", "computer", 5, "Command Understood", true, false};
    CommandList commands;
    for (int i = 0; i < 10000; ++i)
        commands.append({QStringLiteral("Command %1").arg(i), QStringLiteral("Voice Command"),
                         QStringLiteral("open window number %1").arg(i), QStringLiteral("Send Key(s)"),
                         QStringLiteral("[ctrl]%1;[alt][f4]").arg(i % 10)});
    SettingsStore store(dir.path());
    AgentSettings first;
    CommandList none;
    store.LoadSettings(first, none);

    std::vector<double> saves, edits, loads;
    const CommandList unsaved = commands;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer timer;
        timer.start();
        // A store that never read the file makes it hold exactly this list: every row is rewritten.
        CommandList copy = unsaved;
        SettingsStore(dir.path()).SaveSettings(settings, copy);
        saves.push_back(timer.nsecsElapsed() / 1e6);

        AgentSettings loaded;
        CommandList reloaded;
        SettingsStore running(dir.path());
        timer.restart();
        running.LoadSettings(loaded, reloaded);
        loads.push_back(timer.nsecsElapsed() / 1e6);
        if (reloaded.count() != commands.count()) {
            std::fprintf(stderr, "loaded %d commands of %d\n", reloaded.count(), commands.count());
            return 1;
        }
        reloaded[round + 1].Value = QStringLiteral("edited");
        timer.restart();
        running.SaveSettings(loaded, reloaded);
        edits.push_back(timer.nsecsElapsed() / 1e6);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("store, 10000 commands: full save median %.1f ms (min %.1f), save after one edit median %.1f ms, "
                "load median %.1f ms (min %.1f); target < 100 ms each\n",
                median(saves), *std::min_element(saves.begin(), saves.end()), median(edits), median(loads),
                *std::min_element(loads.begin(), loads.end()));
    return 0;
}
