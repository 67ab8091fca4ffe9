#include "store/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class StoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QStringList reports;

    QString FilePath() const { return dir.filePath(QStringLiteral("settings.zqf")); }

    SettingsStore MakeStore() {
        SettingsStore store(dir.path());
        store.report = [this](const QString& m) { reports << m; };
        return store;
    }

    // Runs raw SQL on the file, as another program editing it would.
    void Sql(const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(FilePath().toUtf8().constData(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
        EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }

    QStringList Columns(const char* table) {
        Database db(FilePath(), Database::Mode::OpenExisting);
        return db.fieldNames(QString::fromLatin1(table));
    }

    void Load(AgentSettings& settings, CommandList& commands) { MakeStore().LoadSettings(settings, commands); }

    // One value as SQLite quotes it, so that its storage class shows ('abc', 12, X'00FF', NULL).
    QString Quoted(const char* sql) {
        Database db(FilePath(), Database::Mode::OpenExisting);
        Statement query = db.prepare(QString::fromUtf8(sql));
        return query.step() ? query.value(0).toString() : QStringLiteral("(no row)");
    }

    QByteArray Bytes(const QString& path) {
        if (path.isEmpty()) return {};
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList Kept(const char* why) {
        return QDir(dir.path()).entryList({QStringLiteral("settings.zqf.%1-*").arg(QLatin1String(why))});
    }
};

KeyCommand Command(const QString& name, const QString& value = QStringLiteral("v")) {
    return KeyCommand{name, Kind::MenuItem, name + QStringLiteral(" watch"), Kind::ExecuteProgram, value};
}

TEST_F(StoreTest, FreshFileIsCreatedWithDefaultsAndBothTables) {
    AgentSettings settings;
    CommandList commands;
    SettingsStore store = MakeStore();
    store.LoadSettings(settings, commands);
    EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(settings.StartupText, QStringLiteral("Welcome To Vorlix"));
    EXPECT_EQ(settings.ListenTime, 0);
    EXPECT_FALSE(settings.ResponseListen);
    EXPECT_EQ(commands.count(), 0);
    EXPECT_EQ(Columns("Settings"), (QStringList{"Index", "StartupText", "DeviceName", "ListenCommand", "ListenTime",
                                                "Response", "ResponseListen", "ResponseCommand"}));
    EXPECT_EQ(Columns("KeyCommands"), (QStringList{"Index", "Name", "Watch", "Value", "Type", "ActionType"}));

    // A second run finds the file, changes nothing and reads the written defaults back.
    AgentSettings again;
    CommandList none;
    SettingsStore second = MakeStore();
    second.LoadSettings(again, none);
    EXPECT_EQ(again.StartupText, QStringLiteral("Welcome To Vorlix"));
}

// "Name|ActionType|Watch|Type|Value" of each command, joined by ", ".
QString Joined(const CommandList& commands) {
    QStringList out;
    for (int slot = 1; slot <= commands.count(); ++slot) {
        const KeyCommand& c = commands[slot];
        out << QStringList{c.Name, c.ActionType, c.Watch, c.Type, c.Value}.join(QLatin1Char('|'));
    }
    return out.join(QStringLiteral(", "));
}

// The settings' fields joined by "|" (booleans as 0 and 1), " + ", then the commands.
QString Text(const AgentSettings& s, const CommandList& commands) {
    return QStringList{s.StartupText,
                       s.DeviceName,
                       s.ListenCommand,
                       QString::number(s.ListenTime),
                       s.Response,
                       QString::number(s.ResponseListen),
                       QString::number(s.ResponseCommand)}
               .join(QLatin1Char('|')) +
           " + " + Joined(commands);
}

// Files of older versions and of other programs: what loads (over ListenTime 7 and ResponseCommand
// on), what is reported, and that an edit saved into the tables as they are reads back.
TEST_F(StoreTest, OldFilesLoadWhatTheyHoldAndTakeEdits) {
    const QString settingsTable = "CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, "
                                  "ListenTime %1, Response TEXT, ResponseListen BOOLEAN %2);";
    const QString full = settingsTable.arg("INTEGER", ", ResponseCommand BOOLEAN");
    const struct {
        const char* what;
        QString sql;
        const char* loaded;
        const char* report = ""; // the start of the one message
    } cases[] = {
        {"an empty Settings table", full, "Welcome to Vorlix|||7||0|1 + "},
        {"an older Settings table: ListenTime as text, no ResponseCommand",
         settingsTable.arg("TEXT", "") + "INSERT INTO Settings VALUES ('hello', 'Mic', 'computer', '12', 'yes', 1);",
         "hello|Mic|computer|12|yes|1|1 + "},
        {"Null fields",
         "CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Type TEXT, ActionType TEXT);"
         "INSERT INTO KeyCommands VALUES ('one', NULL, 'Show Message', 'Menu Item'), (NULL, 'w', NULL, NULL);",
         "Welcome to Vorlix|||7||0|1 + one|Menu Item||Show Message|, ||w||"},
        {"letters in ListenTime",
         settingsTable.arg("TEXT", ", ResponseCommand BOOLEAN") +
             "INSERT INTO Settings VALUES ('hi', 'dev', 'computer', 'abc', 'ok', 1, 1);",
         "hi|dev|computer|7|ok|1|1 + ", "Error # : 13\r\n"},
        {"names in another letter case",
         full.toLower() + "INSERT INTO settings VALUES ('hi', 'dev', 'computer', 9, 'ok', 1, 0);"
                          "CREATE TABLE keycommands (name TEXT, WATCH TEXT, value TEXT, type TEXT, actiontype TEXT);"
                          "INSERT INTO keycommands VALUES ('n', 'w', 'v', 'Say Message', 'Menu Item');",
         "hi|dev|computer|9|ok|1|0 + n|Menu Item|w|Say Message|v"},
        {"a second Settings row, read by nobody",
         full + "INSERT INTO Settings VALUES ('one', '', '', 3, '', 0, 0), ('two', '', '', 4, '', 0, 0);",
         "one|||3||0|0 + "},
    };
    const AgentSettings start{"", "", "", 7, "", false, true};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(FilePath());
        Sql(c.sql.toUtf8().constData());
        reports.clear();
        AgentSettings settings = start;
        CommandList commands;
        SettingsStore store = MakeStore();
        store.LoadSettings(settings, commands);
        EXPECT_EQ(Text(settings, commands), QString::fromUtf8(c.loaded));
        EXPECT_EQ(reports.size(), *c.report ? 1 : 0);
        if (*c.report) {
            EXPECT_TRUE(reports[0].startsWith(QString::fromUtf8(c.report))) << reports[0].toStdString();
            EXPECT_TRUE(reports[0].endsWith(QStringLiteral("\r\nLoadSettings")));
        }
        settings.ListenTime = 8;
        settings.ResponseCommand = !settings.ResponseCommand;
        commands.append(Command("new"));
        store.SaveSettings(settings, commands);
        AgentSettings again = start;
        CommandList reloaded;
        Load(again, reloaded);
        EXPECT_EQ(Text(again, reloaded), Text(settings, commands));
    }
    EXPECT_EQ(Quoted("SELECT group_concat(StartupText || ListenTime) FROM Settings"), QStringLiteral("one8,two4"));
}

TEST_F(StoreTest, TextsOfAnyLengthAndScriptRoundTripInOrder) {
    AgentSettings settings{QString(300, QChar(0x00E9)),
                           QStringLiteral("Mikrofon – Ü"),
                           QStringLiteral("コンピューター"),
                           9,
                           QStringLiteral("👍 done"),
                           true,
                           false};
    CommandList commands;
    for (int i = 0; i < 10000; ++i)
        commands.append(Command(QStringLiteral("cmd %1 ✓").arg(i), QString(i % 7 == 0 ? 1000 : 3, QChar(u'字'))));
    commands.append(KeyCommand{"  spaced  ", "Voice Command", "", "Mouse Action", ""});
    commands.append(KeyCommand{"odd", "Key Watch", "x", "Teleport", "elsewhere"});
    SettingsStore store = MakeStore();
    AgentSettings ignored;
    CommandList none;
    store.LoadSettings(ignored, none);
    store.SaveSettings(settings, commands);

    AgentSettings loaded;
    CommandList reloaded;
    Load(loaded, reloaded);
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(loaded, settings);
    ASSERT_EQ(reloaded.count(), commands.count());
    for (int slot = 1; slot <= commands.count(); ++slot)
        ASSERT_EQ(reloaded[slot], commands[slot]) << slot;
}

TEST_F(StoreTest, DamagedFilesAreKeptAsideAndTheAgentStartsWithDefaults) {
    for (const QByteArray& damage : {QByteArray("this is not a database at all"), QByteArray()}) {
        // A real settings file cut short, or plain garbage.
        QByteArray bytes = damage;
        if (bytes.isEmpty()) {
            CommandList many;
            for (int i = 0; i < 500; ++i)
                many.append(Command(QStringLiteral("c%1").arg(i), QString(200, QLatin1Char('x'))));
            AgentSettings settings;
            MakeStore().SaveSettings(settings, many);
            QFile whole(FilePath());
            ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
            bytes = whole.readAll().left(whole.size() / 3);
        }
        QFile::remove(FilePath());
        for (const QString& old : QDir(dir.path()).entryList({"settings.zqf.*"}))
            QFile::remove(dir.filePath(old));
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();

        reports.clear();
        AgentSettings settings;
        CommandList commands;
        Load(settings, commands);
        ASSERT_EQ(reports.size(), 1) << reports.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(reports[0].startsWith(QStringLiteral("Error # : 3343\r\n")));
        const QStringList kept = QDir(dir.path()).entryList({"settings.zqf.damaged-*"});
        ASSERT_EQ(kept.size(), 1);
        EXPECT_TRUE(reports[0].contains(kept[0])) << "the message says where the file was kept";
        QFile aside(dir.filePath(kept[0]));
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), bytes);
        EXPECT_EQ(settings.StartupText, QStringLiteral("Welcome To Vorlix"));
        EXPECT_EQ(commands.count(), 0);
    }
}

// A lock held for a moment is waited for; one held past the wait leaves the file unread, and then
// only edits reach it, after the original is kept aside.
TEST_F(StoreTest, ALockedFileIsWaitedForAndNeverOverwrittenWithDefaults) {
    AgentSettings original{"mine", "", "", 3, "", false, false};
    CommandList commands;
    commands.append(Command(QStringLiteral("precious")));
    MakeStore().SaveSettings(original, commands);
    const QByteArray before = Bytes(FilePath());

    for (const int holdMs : {600, 3000}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t holder = fork();
        if (holder == 0) {
            sqlite3* db = nullptr;
            sqlite3_open(FilePath().toUtf8().constData(), &db);
            sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
            [[maybe_unused]] auto n = write(ready[1], "x", 1);
            usleep(useconds_t(holdMs) * 1000);
            _exit(0);
        }
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        close(ready[1]);
        reports.clear();
        AgentSettings settings;
        CommandList loaded;
        SettingsStore store = MakeStore();
        store.busyTimeoutMs = 1500;
        store.LoadSettings(settings, loaded);
        waitpid(holder, nullptr, 0);
        if (holdMs < store.busyTimeoutMs) {
            EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
            ASSERT_EQ(loaded.count(), 1);
            EXPECT_EQ(settings.StartupText, QStringLiteral("mine"));
            continue;
        }
        ASSERT_FALSE(reports.isEmpty());
        EXPECT_TRUE(reports[0].startsWith(QStringLiteral("Error # : 3045\r\n"))) << reports[0].toStdString();
        EXPECT_EQ(loaded.count(), 0);
        store.SaveSettings(settings, loaded);
        EXPECT_EQ(Bytes(FilePath()), before) << "nothing edited, nothing written";
        EXPECT_TRUE(Kept("unread").isEmpty());

        // Start-up fills in a listening time for the one it could not read; that is no edit.
        settings.ListenTime = 5;
        store.AcceptDefaults(settings);
        QString told;
        store.notice = [&](const QString& m) { told = m; };
        loaded.append(Command(QStringLiteral("added meanwhile")));
        store.SaveSettings(settings, loaded);
        ASSERT_EQ(Kept("unread").size(), 1);
        EXPECT_EQ(Bytes(dir.filePath(Kept("unread")[0])), before);
        EXPECT_TRUE(told.contains(Kept("unread")[0])) << told.toStdString();
        AgentSettings merged;
        CommandList mergedCommands;
        Load(merged, mergedCommands);
        EXPECT_EQ(merged, original);
        ASSERT_EQ(mergedCommands.count(), 2);
        EXPECT_EQ(mergedCommands[1].Name, QStringLiteral("precious"));
        EXPECT_EQ(mergedCommands[2].Name, QStringLiteral("added meanwhile"));
    }
}

// The program directory cannot be written: root ignores permissions, so the check runs as "nobody".
TEST_F(StoreTest, UnwritableDirectoryIsReportedClearlyAndSaveFails) {
    QTemporaryDir outer;
    ASSERT_TRUE(QFile::setPermissions(outer.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        AgentSettings settings;
        CommandList commands;
        SettingsStore store(outer.path());
        QString out;
        store.report = [&](const QString& m) { out += m + QStringLiteral("\n"); };
        store.LoadSettings(settings, commands);
        try {
            settings.ListenTime = 4;
            store.SaveSettings(settings, commands);
            out += QStringLiteral("SAVED");
        } catch (const StoreError& e) {
            out += QStringLiteral("SAVE FAILED %1").arg(e.number);
        }
        const QByteArray bytes = out.toUtf8();
        [[maybe_unused]] auto n = write(pipeFds[1], bytes.constData(), size_t(bytes.size()));
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray output;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const QString text = QString::fromUtf8(output);
    EXPECT_TRUE(text.contains(QStringLiteral("cannot be written"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("SAVE FAILED"))) << text.toStdString();
    EXPECT_FALSE(QFile::exists(outer.filePath(QStringLiteral("settings.zqf"))));
}

// A save that fails part way (here a trigger aborts its last write, as a full disk would) leaves
// the file as it was, never a table half old and half new.
TEST_F(StoreTest, ASaveFailingMidwayLeavesTheFileAsItWas) {
    auto version = [](int tag) {
        CommandList commands;
        for (int i = 0; i < 300; ++i)
            commands.append(Command(QStringLiteral("v%1 #%2").arg(tag).arg(i)));
        return commands;
    };
    AgentSettings settings;
    SettingsStore store = MakeStore();
    CommandList first = version(0);
    store.SaveSettings(settings, first);
    Sql("CREATE TRIGGER fullu BEFORE UPDATE ON KeyCommands WHEN new.Name = 'v1 #299' BEGIN SELECT RAISE(ABORT, "
        "'full'); END; CREATE TRIGGER fulli BEFORE INSERT ON KeyCommands WHEN new.Name = 'v1 #299' BEGIN SELECT "
        "RAISE(ABORT, 'full'); END;");
    settings.ListenTime = 1;
    CommandList edited = version(1);
    edited.append(Command("added"));
    EXPECT_THROW(store.SaveSettings(settings, edited), StoreError);

    AgentSettings loaded;
    CommandList commands;
    Load(loaded, commands);
    EXPECT_EQ(loaded.ListenTime, 0);
    EXPECT_EQ(Joined(commands), Joined(version(0)));
}

// Values the agent could not read, or not exactly, are never replaced without a copy of the file.
TEST_F(StoreTest, UnreadValuesAreKeptUnlessEditedAndThenTheFileIsKeptAsideFirst) {
    const char* settingsTable = "CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, "
                                "ListenTime TEXT, Response TEXT, ResponseListen TEXT, ResponseCommand BOOLEAN);";
    using Edit = std::function<void(AgentSettings&, CommandList&)>;
    struct Case {
        const char* what;
        const char* row; // the file's content besides the tables
        Edit edit;
        bool keptAside;
        const char* check; // a value afterwards, as SQLite quotes it
        const char* expected;
    };
    const Case cases[] = {
        {"letters, not edited", "INSERT INTO Settings VALUES ('hi','','','abc','',1,0)", [](auto&, auto&) {}, false,
         "SELECT quote(ListenTime) FROM Settings", "'abc'"},
        {"letters, another setting edited", "INSERT INTO Settings VALUES ('hi','','','abc','',1,0)",
         [](AgentSettings& s, auto&) { s.StartupText = "edited"; }, false, "SELECT quote(ListenTime) FROM Settings",
         "'abc'"},
        {"letters replaced", "INSERT INTO Settings VALUES ('hi','','','abc','',1,0)",
         [](AgentSettings& s, auto&) { s.ListenTime = 5; }, true, "SELECT quote(ListenTime) FROM Settings", "'5'"},
        {"maybe replaced", "INSERT INTO Settings VALUES ('hi','','','4','','maybe',0)",
         [](AgentSettings& s, auto&) { s.ResponseListen = true; }, true, "SELECT quote(ResponseListen) FROM Settings",
         "'1'"},
        {"overflow replaced", "INSERT INTO Settings VALUES ('hi','','','99999999999','',1,0)",
         [](AgentSettings& s, auto&) { s.ListenTime = 1; }, true, "SELECT quote(ListenTime) FROM Settings", "'1'"},
        {"blob, other field edited",
         "INSERT INTO KeyCommands (Name, Watch, Value, Type, ActionType) VALUES ('n', 'w', x'00ff', 'Say Message', "
         "'Menu Item')",
         [](auto&, CommandList& c) { c[1].Name = "renamed"; }, false, "SELECT quote(Value) FROM KeyCommands",
         "X'00FF'"},
        {"invalid UTF-8, command deleted",
         "INSERT INTO KeyCommands (Name, Watch, Value, Type, ActionType) VALUES (CAST(x'41ff' AS TEXT), 'w', 'v', "
         "'Say Message', 'Menu Item')",
         [](auto&, CommandList& c) { c.remove(1); }, true, "SELECT count(*) FROM KeyCommands", "0"},
        {"invalid UTF-8 untouched",
         "INSERT INTO KeyCommands (Name, Watch, Value, Type, ActionType) VALUES ('n', CAST(x'41ff' AS TEXT), 'v', "
         "'Say Message', 'Menu Item')",
         [](auto&, CommandList& c) { c.append(Command("new")); }, false,
         "SELECT hex(Watch) FROM KeyCommands ORDER BY rowid", "41FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(FilePath());
        for (const QString& old : Kept("unread"))
            QFile::remove(dir.filePath(old));
        Sql(settingsTable);
        Sql("CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT)");
        Sql(c.row);
        const QByteArray before = Bytes(FilePath());
        AgentSettings settings;
        CommandList commands;
        SettingsStore store = MakeStore();
        QString told;
        store.notice = [&](const QString& m) { told = m; };
        store.LoadSettings(settings, commands);
        c.edit(settings, commands);
        store.SaveSettings(settings, commands);
        store.SaveSettings(settings, commands);
        EXPECT_EQ(Quoted(c.check), QString::fromLatin1(c.expected));
        ASSERT_EQ(Kept("unread").size(), c.keptAside ? 1 : 0) << "one copy, before the first save that replaces";
        if (c.keptAside) {
            EXPECT_EQ(Bytes(dir.filePath(Kept("unread")[0])), before);
            EXPECT_EQ(told, QStringLiteral("Vorlix could not read everything in its settings file \"%1\" exactly, and "
                                           "has now saved over it. The file as it was before is kept as \"%2\".")
                                .arg(FilePath(), dir.filePath(Kept("unread")[0])));
        }
    }
}

// Another program's columns, rows and triggers: a save touches only what the agent changed.
TEST_F(StoreTest, ASaveWritesOnlyWhatTheAgentChanged) {
    Sql("CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT, Notes TEXT);"
        "INSERT INTO KeyCommands VALUES ('a','wa','va','Say Message','Menu Item','note a');"
        "INSERT INTO KeyCommands VALUES ('b','wb','vb','Say Message','Menu Item','note b');"
        "INSERT INTO KeyCommands VALUES ('c','wc','vc','Say Message','Menu Item','note c');"
        "CREATE TABLE Log (what TEXT);"
        "CREATE TRIGGER u AFTER UPDATE ON KeyCommands BEGIN INSERT INTO Log VALUES ('update ' || new.Name); END;"
        "CREATE TRIGGER i AFTER INSERT ON KeyCommands BEGIN INSERT INTO Log VALUES ('insert ' || new.Name); END;"
        "CREATE TRIGGER d AFTER DELETE ON KeyCommands BEGIN INSERT INTO Log VALUES ('delete ' || old.Name); END;");
    AgentSettings settings;
    CommandList commands;
    SettingsStore store = MakeStore();
    store.LoadSettings(settings, commands);
    ASSERT_EQ(commands.count(), 3);
    Sql("DELETE FROM Log");

    // Nothing edited: the file is left alone, and a command added by another program meanwhile stays.
    Sql("INSERT INTO KeyCommands VALUES ('other','wo','vo','Say Message','Menu Item','theirs')");
    const QByteArray before = Bytes(FilePath());
    const quint64 revision = commands.revision();
    store.SaveSettings(settings, commands);
    EXPECT_EQ(Bytes(FilePath()), before);
    EXPECT_EQ(commands.revision(), revision) << "a save that gives no command a new row leaves the list as it was";

    commands[2].Value = "vb2";
    commands.remove(3);
    commands.append(Command("d"));
    store.SaveSettings(settings, commands);
    store.SaveSettings(settings, commands);
    EXPECT_EQ(Quoted("SELECT group_concat(what, ', ') FROM Log"),
              QStringLiteral("insert other, delete c, update b, insert d"));
    EXPECT_EQ(Quoted("SELECT group_concat(Name || '=' || Value || '/' || ifnull(Notes, '-'), ', ') FROM KeyCommands"),
              QStringLiteral("a=va/note a, b=vb2/note b, other=vo/theirs, d=v/-"));

    // What was saved is what a fresh start reads; the other program's command comes with it.
    AgentSettings again;
    CommandList reloaded;
    Load(again, reloaded);
    ASSERT_EQ(reloaded.count(), 4);
    EXPECT_EQ(reloaded[2], commands[2]);
    EXPECT_EQ(reloaded[4], commands[3]);
}

// Load messages come after the file is closed, so a save made while one is shown finds the file free.
TEST_F(StoreTest, LoadMessagesComeAfterTheFileIsReleased) {
    for (const QByteArray& content : {QByteArray("garbage"), QByteArray()}) {
        QFile::remove(FilePath());
        if (content.isEmpty()) {
            Sql("CREATE TABLE Settings (ListenTime TEXT); INSERT INTO Settings VALUES ('abc')");
        } else {
            QFile file(FilePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        AgentSettings settings;
        CommandList commands;
        SettingsStore store(dir.path());
        bool saved = false;
        store.report = [&](const QString&) {
            settings.ListenTime = 9;
            store.busyTimeoutMs = 0;
            store.SaveSettings(settings, commands);
            saved = true;
        };
        store.LoadSettings(settings, commands);
        EXPECT_TRUE(saved);
        EXPECT_EQ(Quoted("SELECT ListenTime + 0 FROM Settings"), QStringLiteral("9"));
    }
}

// A settings file that other users could have planted or changed is neither read nor written.
TEST_F(StoreTest, FilesAndFoldersOthersCanChangeAreRefused) {
    struct Case {
        const char* what;
        std::function<void(const QString& folder, const QString& file)> setUp;
        const char* says;
        bool needsRoot;
    };
    auto planted = [](const QString& file) {
        Database db(file, Database::Mode::Create);
        db.execute("CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Value TEXT, Type TEXT, ActionType TEXT)");
        db.execute("INSERT INTO KeyCommands VALUES ('planted', 'p', 'xterm', 'Execute Program', 'Key Watch')");
    };
    const Case cases[] = {
        {"world-writable folder", [](const QString& d, auto&) { chmod(d.toUtf8(), 0777); },
         "can be changed by other users (its permissions are rwxrwxrwx), so they could replace the settings file. To "
         "fix this, take their write access away: chmod go-w",
         false},
        {"sticky shared folder", [](const QString& d, auto&) { chmod(d.toUtf8(), 01777); },
         "is shared with other users (its permissions are rwxrwxrwt), so another user could put a settings file there. "
         "To fix this, keep the settings file in a folder that only you can write to.",
         false},
        {"folder writable by a group with others",
         [](const QString& d, auto&) {
             [[maybe_unused]] int r = chown(d.toUtf8(), geteuid(), 65534);
             chmod(d.toUtf8(), 0770);
         },
         "(its permissions are rwxrwx--- and the group \"nogroup\" has other members)", true},
        {"file of another user",
         [&](auto&, const QString& f) {
             planted(f);
             [[maybe_unused]] int r = chown(f.toUtf8(), 65534, 65534);
         },
         "belongs to the user nobody, not to you (root), so nobody could change the commands that Vorlix runs as you. "
         "To fix this, make the file yours: sudo chown root",
         true},
        {"file others can write",
         [&](auto&, const QString& f) {
             planted(f);
             chmod(f.toUtf8(), 0666);
         },
         "(its permissions are rw-rw-rw-), so they could change the commands that Vorlix runs as you. To fix this, "
         "take their write access away: chmod go-w",
         false},
        {"symbolic link",
         [&](const QString& d, const QString& f) {
             planted(d + "/elsewhere.zqf");
             QFile::link(d + "/elsewhere.zqf", f);
         },
         "is a symbolic link. Vorlix does not follow a link to its settings, because whoever can change the link "
         "chooses the file that Vorlix reads and overwrites. To fix this, put the file itself in place of the link: mv",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;
        QTemporaryDir outer;
        const QString folder = outer.filePath("agent");
        ASSERT_TRUE(QDir().mkdir(folder));
        const QString file = folder + "/settings.zqf";
        c.setUp(folder, file);
        const QStringList present = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        const QByteArray before = Bytes(QFileInfo(file).canonicalFilePath());

        AgentSettings settings;
        CommandList commands;
        SettingsStore store(folder);
        QStringList told;
        store.report = [&](const QString& m) { told << m; };
        store.LoadSettings(settings, commands);
        ASSERT_EQ(told.size(), 1);
        EXPECT_TRUE(told[0].startsWith("Error # : 3051\r\n")) << told[0].toStdString();
        EXPECT_TRUE(told[0].contains(QString::fromUtf8(c.says))) << told[0].toStdString();
        EXPECT_TRUE(told[0].endsWith("Until then Vorlix runs with its default settings and saves nothing "
                                     "there.\r\nLoadSettings"))
            << told[0].toStdString();
        EXPECT_EQ(commands.count(), 0) << "nothing planted is loaded";
        EXPECT_EQ(settings.StartupText, QStringLiteral("Welcome To Vorlix"));
        commands.append(Command("mine"));
        EXPECT_THROW(store.SaveSettings(settings, commands), StoreError);
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), present);
        EXPECT_EQ(Bytes(QFileInfo(file).canonicalFilePath()), before);
    }

    // A trusted folder: the new file is the owner's alone.
    AgentSettings settings;
    CommandList commands;
    Load(settings, commands);
    EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(QFileInfo(FilePath()).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
}

} // namespace
