#include "store/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

KeyCommand Command(const QString& name) {
    return KeyCommand{name, Kind::MenuItem, name + " watch", Kind::ExecuteProgram, "v"};
}

// "StartupText|DeviceName|...|ResponseCommand + Name|ActionType|Watch|Type|Value, ..." (booleans as 0, 1).
QString Text(const AgentSettings& s, const CommandList& commands) {
    QString text = QStringLiteral("%1|%2|%3|%4|%5|%6|%7 + ")
                       .arg(s.StartupText, s.DeviceName, s.ListenCommand, QString::number(s.ListenTime), s.Response,
                            QString::number(s.ResponseListen), QString::number(s.ResponseCommand));
    for (int slot = 1; slot <= commands.count(); ++slot) {
        const KeyCommand& c = commands[slot];
        text += QStringLiteral("%1%2|%3|%4|%5|%6")
                    .arg(QString(slot > 1 ? ", " : ""), c.Name, c.ActionType, c.Watch, c.Type, c.Value);
    }
    return text;
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class StoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.zqf");
    AgentSettings settings;
    CommandList commands;
    QStringList told;
    bool checkReleased = true;

    // A start of the agent: it loads `settings` and `commands` over `start`, its messages go to `told`.
    SettingsStore Start(const AgentSettings& start = {}, const QString& folder = {}, int waitMs = 5000) {
        SettingsStore store(folder.isEmpty() ? dir.path() : folder);
        settings = start, commands = {}, told.clear();
        store.busyTimeoutMs = waitMs;
        store.report = [this](const QString& m) {
            told << m;
            // Messages must come once the file is released: a save made while one is shown needs it.
            if (checkReleased && QFile::exists(file)) {
                EXPECT_NO_THROW(Database(file, Database::Mode::OpenExisting, 0).execute("BEGIN EXCLUSIVE; ROLLBACK"))
                    << "still held: " << m.toStdString();
            }
        };
        store.LoadSettings(settings, commands);
        return store;
    }
    void Save(SettingsStore& store) { store.SaveSettings(settings, commands); }

    QString Load() { return Start(), Text(settings, commands); } // what a fresh start reads

    // Raw SQL on the file, as another program editing it would run.
    void Sql(const QString& sql) { Database(file, Database::Mode::Create).execute(sql); }
    // One value as SQLite gives it back (quote() shows the storage class: 'abc', 12, X'00FF').
    QString Value(const QString& sql) {
        Database db(file, Database::Mode::OpenExisting);
        Statement query = db.prepare(sql);
        return query.step() ? query.value(0).toString() : QStringLiteral("(no row)");
    }

    QString Kept(const char* why) {
        return QDir(dir.path()).entryList({QStringLiteral("settings.zqf.%1-*").arg(why)}).value(0);
    }
    QByteArray KeptBytes(const char* why) { return Kept(why).isEmpty() ? "" : Bytes(dir.filePath(Kept(why))); }

    void Fresh() { ASSERT_TRUE(QDir(dir.path()).removeRecursively() && !mkdir(dir.path().toUtf8(), 0700)); }
};

// Files of older versions, of other programs, damaged ones and none: what loads (over ListenTime 7 and
// ResponseCommand on), the one message, and that edits (texts of any length and script) read back.
TEST_F(StoreTest, OldAndDamagedFilesLoadWhatTheyHoldAndTakeEdits) {
    const QString settingsTable = "CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, "
                                  "ListenTime %1, Response TEXT, ResponseListen BOOLEAN %2);";
    const QString full = settingsTable.arg("INTEGER", ", ResponseCommand BOOLEAN");
    // A complete file, so that only its missing pages tell it is damaged.
    Sql(full + "CREATE TABLE KeyCommands (Name, Watch, Value, Type, ActionType);"
               "INSERT INTO KeyCommands (Name) VALUES (hex(zeroblob(50000)))");
    const QByteArray whole = Bytes(file);
    const struct {
        const char* what;
        QString sql;
        const char* loaded;
        const char* report = ""; // the start of the one message
        QByteArray damaged = {}; // the file's bytes instead of SQL
    } cases[] = {
        {"no file", "", "Welcome To Vorlix|||7||0|1 + "},
        {"ListenTime as text, no ResponseCommand",
         settingsTable.arg("TEXT", "") + "INSERT INTO Settings VALUES ('hello', 'Mic', 'computer', '12', 'yes', 1);",
         "hello|Mic|computer|12|yes|1|1 + "},
        {"Null fields",
         "CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Type TEXT, ActionType TEXT);"
         "INSERT INTO KeyCommands VALUES ('one', NULL, 'Show Message', 'Menu Item'), (NULL, 'w', NULL, NULL);",
         "Welcome to Vorlix|||7||0|1 + one|Menu Item||Show Message|, ||w||"},
        {"letters in ListenTime",
         settingsTable.arg("TEXT", "") + "INSERT INTO Settings VALUES ('hi', 'dev', 'computer', 'abc', 'ok', 1);",
         "hi|dev|computer|7|ok|1|1 + ", "Error # : 13\r\n"},
        {"names in another letter case",
         full.toLower() + "INSERT INTO settings VALUES ('hi', 'dev', 'computer', 9, 'ok', 1, 0);"
                          "CREATE TABLE keycommands (name TEXT, WATCH TEXT, value TEXT, type TEXT, actiontype TEXT);"
                          "INSERT INTO keycommands VALUES ('n', 'w', 'v', 'Say Message', 'Menu Item');",
         "hi|dev|computer|9|ok|1|0 + n|Menu Item|w|Say Message|v"},
        {"garbage", "", "Welcome To Vorlix|||7||0|1 + ", "Error # : 3343\r\n", "this is not a database at all"},
        {"a file cut short", "", "Welcome To Vorlix|||7||0|1 + ", "Error # : 3343\r\n", whole.left(whole.size() / 3)},
        {"a second Settings row, read by nobody",
         full + "INSERT INTO Settings VALUES ('one', '', '', 3, '', 0, 0), ('two', '', '', 4, '', 0, 0);",
         "one|||3||0|0 + "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        if (!c.sql.isEmpty()) Sql(c.sql);
        if (QFile f(file); !c.damaged.isEmpty()) {
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.damaged) == c.damaged.size());
        }
        SettingsStore store = Start({"", "", "", 7, "", false, true});
        EXPECT_EQ(Text(settings, commands), QString::fromUtf8(c.loaded));
        const QString all = told.join('\n');
        EXPECT_TRUE(*c.report ? told.size() == 1 && all.startsWith(c.report) && all.endsWith("\r\nLoadSettings") &&
                                    all.contains(Kept("damaged")) // where the damaged file went
                              : all.isEmpty())
            << all.toStdString();
        EXPECT_EQ(KeptBytes("damaged"), c.damaged);
        EXPECT_EQ(QFileInfo(file).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
        settings.ListenTime = 8;
        settings.ResponseCommand = !settings.ResponseCommand;
        settings.Response = QString(300, QChar(0x00E9)) + "👍 コンピューター";
        commands.append(KeyCommand{"  new ✓ ", "Voice Command", "", "Teleport", QString(1000, QChar(u'字'))});
        Save(store);
        const QString saved = Text(settings, commands);
        EXPECT_EQ(Load(), saved);
    }
    EXPECT_EQ(Value("SELECT group_concat(StartupText || ListenTime) FROM Settings"), QStringLiteral("one8,two4"));
}

// A lock held for a moment is waited for; one held past the wait leaves the file unread, and then
// only edits reach it, after the original is kept aside.
TEST_F(StoreTest, ALockedFileIsWaitedForAndNeverOverwrittenWithDefaults) {
    SettingsStore first = Start({"mine", "", "", 3, "", false, false});
    commands.append(Command("precious"));
    Save(first);
    const AgentSettings mine = settings;
    CommandList kept = commands;
    const QByteArray before = Bytes(file);
    checkReleased = false;
    for (const bool brief : {true, false}) {
        std::optional<Database> other(std::in_place, file, Database::Mode::OpenExisting);
        other->execute("BEGIN EXCLUSIVE");
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(brief ? 300 : 0));
            if (brief) other->execute("COMMIT");
        });
        SettingsStore store = Start({}, {}, 1500);
        release.join();
        other.reset();
        if (brief) {
            EXPECT_EQ(Text(settings, commands) + told.join(""), Text(mine, kept));
            continue;
        }
        EXPECT_TRUE(told.size() == 1 && told[0].startsWith("Error # : 3045\r\n")) << told.join("").toStdString();
        Save(store);
        EXPECT_EQ(Bytes(file), before) << "nothing edited, nothing written";
        // Start-up fills in a listening time for the one it could not read; that is no edit.
        settings.ListenTime = 5;
        store.AcceptDefaults(settings);
        commands.append(Command("added"));
        Save(store);
        EXPECT_EQ(KeptBytes("unread"), before);
        kept.append(Command("added"));
        EXPECT_EQ(Load(), Text(mine, kept));
    }
}

TEST_F(StoreTest, AFolderThatCannotBeWrittenIsReportedAndTheSaveFails) {
    ASSERT_TRUE(chmod(QFile::encodeName(dir.path()), 0555) == 0);
    const pid_t child = fork();
    if (child == 0) {
        // Root ignores permissions, so the check runs as "nobody".
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        SettingsStore store = Start();
        settings.ListenTime = 4;
        try {
            Save(store);
        } catch (const StoreError&) {
            _exit(told.join("").contains("cannot be written") ? 0 : 1);
        }
        _exit(2);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "exit 1: no report says why, 2: the save passed for done";
    EXPECT_FALSE(QFile::exists(file));
}

// Values the agent could not read, or not exactly, are never replaced without a copy of the file.
TEST_F(StoreTest, UnreadValuesAreKeptUnlessEditedAndThenTheFileIsKeptAsideFirst) {
    const QString letters = "INSERT INTO Settings VALUES ('hi','','','abc','',1,0)";
    const QString command = "INSERT INTO KeyCommands VALUES (%1, %2, %3, 'Say Message', 'Menu Item')";
    const struct {
        const char* what;
        QString row;
        std::function<void(AgentSettings&, CommandList&)> edit;
        bool keptAside;
        const char* check; // a value afterwards
        const char* expected;
    } cases[] = {
        {"letters, another setting edited", letters, [](AgentSettings& s, auto&) { s.StartupText = "edited"; }, false,
         "quote(ListenTime) FROM Settings", "'abc'"},
        {"letters replaced", letters, [](AgentSettings& s, auto&) { s.ListenTime = 5; }, true,
         "quote(ListenTime) FROM Settings", "5"},
        {"overflow replaced", "INSERT INTO Settings VALUES ('hi','','','99999999999','',1,0)",
         [](AgentSettings& s, auto&) { s.ListenTime = 1; }, true, "quote(ListenTime) FROM Settings", "1"},
        {"blob, other field edited", command.arg("'n'", "'w'", "x'00ff'"),
         [](auto&, CommandList& c) { c[1].Name = "renamed"; }, false, "quote(Value) FROM KeyCommands", "X'00FF'"},
        {"invalid UTF-8, command deleted", command.arg("CAST(x'41ff' AS TEXT)", "'w'", "'v'"),
         [](auto&, CommandList& c) { c.remove(1); }, true, "count(*) FROM KeyCommands", "0"},
        {"invalid UTF-8 untouched", command.arg("'n'", "CAST(x'41ff' AS TEXT)", "'v'"),
         [](auto&, CommandList& c) { c.append(Command("new")); }, false, "hex(Watch) FROM KeyCommands ORDER BY rowid",
         "41FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        Sql("CREATE TABLE Settings (StartupText, DeviceName, ListenCommand, ListenTime, Response, ResponseListen, "
            "ResponseCommand); CREATE TABLE KeyCommands (Name, Watch, Value, Type, ActionType);" +
            c.row);
        const QByteArray before = Bytes(file);
        SettingsStore store = Start();
        QString notice;
        store.notice = [&](const QString& m) { notice = m; };
        c.edit(settings, commands);
        Save(store);
        Save(store);
        EXPECT_EQ(Value(QStringLiteral("SELECT ") + c.check), QString::fromLatin1(c.expected));
        EXPECT_EQ(KeptBytes("unread"), c.keptAside ? before : "") << "one copy, before the first save that replaces";
        EXPECT_TRUE(!c.keptAside ||
                    (notice.startsWith("Vorlix could not read everything in its settings file \"" + file) &&
                     notice.endsWith(" is kept as \"" + dir.filePath(Kept("unread")) + "\".")))
            << notice.toStdString();
    }
}

// The option pages show the texts trimmed; that is no edit, and the file keeps the blanks it has. A text
// the user then types is written, trimmed as typed.
TEST_F(StoreTest, TextsThatSetUpOnlyTrimmedAreNotWritten) {
    Sql("CREATE TABLE Settings (StartupText, DeviceName, ListenCommand, ListenTime, Response, ResponseListen, "
        "ResponseCommand); INSERT INTO Settings VALUES ('  Hello  ', '', ' Vorlix', 5, 'Done ', 1, 0)");
    SettingsStore store = Start();
    EXPECT_EQ(settings.StartupText + settings.ListenCommand + settings.Response, "  Hello   VorlixDone ");
    settings.StartupText = "Hello", settings.ListenCommand = "Vorlix", settings.Response = "Done";
    store.AcceptDefaults(settings);
    Save(store);
    const QString all = "quote(StartupText) || quote(ListenCommand) || quote(Response) FROM Settings";
    EXPECT_EQ(Value("SELECT " + all), "'  Hello  '' Vorlix''Done '");
    settings.Response = "Understood";
    Save(store);
    EXPECT_EQ(Value("SELECT " + all), "'  Hello  '' Vorlix''Understood'");
}

// A copy kept aside is whole under its name, or not there: a start killed in the middle of copying a
// large damaged file leaves only a hidden temporary, which the next start clears.
TEST_F(StoreTest, ACopyKilledHalfWayNeverShowsUnderItsName) {
    QByteArray damaged(160 << 20, '\0');
    for (qsizetype i = 0; i < damaged.size(); i += 4096)
        damaged[i] = char(i >> 12);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(damaged) == damaged.size());
    }
    const auto partial = [&] {
        const QFileInfoList found =
            QDir(dir.path()).entryInfoList({".settings.zqf.copy-*"}, QDir::Files | QDir::Hidden | QDir::System);
        return found.isEmpty() ? qint64(-1) : found[0].size();
    };
    const pid_t child = fork();
    if (child == 0) {
        SettingsStore store(dir.path());
        AgentSettings s;
        CommandList c;
        store.LoadSettings(s, c);
        _exit(0);
    }
    qint64 size = -1;
    for (int i = 0; i < 200000 && size <= 0; ++i)
        if ((size = partial()) <= 0) usleep(50);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_GT(size, 0) << "the copy never began";
    const qint64 left = partial();
    EXPECT_TRUE(Kept("damaged").isEmpty() || QFileInfo(dir.filePath(Kept("damaged"))).size() == damaged.size())
        << "a copy cut short under the name of a whole one";
    EXPECT_GT(left, 0) << "killed when the copy was done: no half-way case";

    Start();
    EXPECT_EQ(partial(), -1) << "the temporary of the killed start is cleared";
    EXPECT_EQ(KeptBytes("damaged"), damaged);
    EXPECT_EQ(told.size(), 1);
}

// Another program's columns, rows and triggers: a save touches only what the agent changed. One that
// fails part way (a trigger aborts its last write, as a full disk would) leaves the file as it was.
TEST_F(StoreTest, ASaveWritesOnlyWhatTheAgentChangedAndAllOfItOrNothing) {
    Sql("CREATE TABLE KeyCommands (Name, Watch, Value, Type, ActionType, Notes); INSERT INTO KeyCommands VALUES "
        "('a','wa','va','t','k','note a'), ('b','wb','vb','t','k','note b'), ('c','wc','vc','t','k','note c');"
        "CREATE TABLE Log (what TEXT);"
        "CREATE TRIGGER u AFTER UPDATE ON KeyCommands BEGIN INSERT INTO Log VALUES ('update ' || new.Name); END;"
        "CREATE TRIGGER i AFTER INSERT ON KeyCommands BEGIN INSERT INTO Log VALUES ('insert ' || new.Name); END;"
        "CREATE TRIGGER d AFTER DELETE ON KeyCommands BEGIN INSERT INTO Log VALUES ('delete ' || old.Name); END;");
    SettingsStore store = Start();

    // Nothing edited: the file is left alone, and a command added by another program meanwhile stays.
    Sql("DELETE FROM Log; INSERT INTO KeyCommands VALUES ('other','wo','vo','t','k','theirs')");
    QByteArray before = Bytes(file);
    const quint64 revision = commands.revision();
    Save(store);
    EXPECT_EQ(Bytes(file), before);
    EXPECT_EQ(commands.revision(), revision) << "a save that gives no command a new row leaves the list as it was";

    commands[2].Value = "vb2";
    commands.remove(3);
    commands.append(Command("d"));
    Save(store);
    Save(store);
    EXPECT_EQ(Value("SELECT group_concat(what, ', ') FROM Log"), "insert other, delete c, update b, insert d");
    EXPECT_EQ(Value("SELECT group_concat(Name || '=' || Value || '/' || ifnull(Notes, '-'), ', ') FROM KeyCommands"),
              "a=va/note a, b=vb2/note b, other=vo/theirs, d=v/-");

    Sql("CREATE TRIGGER full BEFORE INSERT ON KeyCommands WHEN new.Name = 'e' BEGIN SELECT RAISE(ABORT, 'full'); END");
    before = Bytes(file);
    settings.ListenTime = 1;
    commands[1].Value = "va2";
    commands.remove(2);
    commands.append(Command("e"));
    EXPECT_THROW(Save(store), StoreError);
    EXPECT_EQ(Bytes(file), before);
}

// A settings file that other users could have planted or changed is neither read nor written.
TEST_F(StoreTest, FilesAndFoldersOthersCanChangeAreRefused) {
    const auto planted = [](const QString& f) {
        Database(f, Database::Mode::Create)
            .execute("CREATE TABLE KeyCommands (Name); INSERT INTO KeyCommands VALUES (1)");
        return f.toUtf8();
    };
    const struct {
        std::function<void(const QByteArray& folder, const QString& file)> setUp;
        const char* says;
        bool needsRoot = false;
    } cases[] = {
        {[](auto& d, auto&) { chmod(d, 0777); }, "(its permissions are rwxrwxrwx), so they could "},
        {[](auto& d, auto&) { chmod(d, 01777); }, "(its permissions are rwxrwxrwt), so another"},
        {[](auto& d, auto&) { chmod(d, chown(d, geteuid(), 65534) ? 0700 : 0770); },
         "(its permissions are rwxrwx--- and the group \"nogroup\" has other members)", true},
        {[&](auto&, auto& f) { return chown(planted(f), 65534, 65534); },
         "belongs to the user nobody, not to you (root)", true},
        {[&](auto&, auto& f) { chmod(planted(f), 0666); }, "(its permissions are rw-rw-rw-), so"},
        {[&](auto& d, auto& f) { QFile::link(planted(d + "/elsewhere.zqf"), f); },
         "is a symbolic link. Vorlix does not follow a link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        if (c.needsRoot && geteuid() != 0) continue;
        QTemporaryDir outer;
        const QString folder = outer.filePath("agent"), settingsFile = folder + "/settings.zqf";
        ASSERT_TRUE(QDir().mkdir(folder));
        c.setUp(folder.toUtf8(), settingsFile);
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
        const QStringList present = QDir(folder).entryList(all);
        const QByteArray content = Bytes(QFileInfo(settingsFile).canonicalFilePath());
        SettingsStore store = Start({}, folder);
        EXPECT_TRUE(told.size() == 1 && told[0].startsWith("Error # : 3051\r\n") && told[0].contains(c.says) &&
                    told[0].endsWith("Vorlix runs with its default settings and saves nothing there.\r\nLoadSettings"))
            << told.join('\n').toStdString();
        EXPECT_EQ(Text(settings, commands), "Welcome To Vorlix|||0||0|0 + ") << "nothing planted is loaded";
        commands.append(Command("mine"));
        EXPECT_THROW(Save(store), StoreError);
        EXPECT_EQ(QDir(folder).entryList(all), present);
        EXPECT_EQ(Bytes(QFileInfo(settingsFile).canonicalFilePath()), content);
    }
}

// Write access that an access list gives another user counts as the permission bits do; the list's
// mask over the entries takes it away again.
TEST_F(StoreTest, AccessListsThatLetOthersWriteAreRefused) {
    const auto setfacl = [](const QString& entries, const QString& path) {
        return std::system(qPrintable(QStringLiteral("setfacl -m '%1' '%2' 2>/dev/null").arg(entries, path))) == 0;
    };
    if (!setfacl("u:nobody:r", dir.path()))
        GTEST_SKIP() << "skipped: setfacl (package acl) cannot set an access list in " << qPrintable(dir.path());
    const passwd* me = getpwuid(geteuid());
    ASSERT_TRUE(me);
    const struct {
        QString entries;
        bool onFolder;
        const char* says; // nullptr: accepted
    } cases[] = {
        {"u:nobody:rw", false, "(its access control list lets the user nobody write), so they could change"},
        {"g:nogroup:rw", false, "(its access control list lets the group \"nogroup\" write, which has other members)"},
        {"u:nobody:rwx", true,
         "where the settings file is kept, can be changed by other users (its access control "
         "list lets the user nobody write)"},
        {"g:nogroup:rwx", true, "list lets the group \"nogroup\" write"},
        {"u:nobody:rw,m::r", false, nullptr},
        {"u:nobody:rwx,m::rx", true, nullptr},
        {QStringLiteral("u:%1:rw").arg(me->pw_name), false, nullptr},
        {"u:nobody:r,g::r", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.entries));
        QTemporaryDir outer;
        const QString folder = outer.filePath("agent"), settingsFile = folder + "/settings.zqf";
        ASSERT_TRUE(QDir().mkdir(folder));
        Database(settingsFile, Database::Mode::Create)
            .execute("CREATE TABLE KeyCommands (Name); INSERT INTO KeyCommands VALUES ('planted')");
        ASSERT_TRUE(setfacl(c.entries, c.onFolder ? folder : settingsFile));
        const QByteArray content = Bytes(settingsFile);
        SettingsStore store = Start({}, folder);
        if (!c.says) {
            EXPECT_TRUE(told.isEmpty()) << told.join('\n').toStdString();
            commands.append(Command("mine"));
            EXPECT_NO_THROW(Save(store));
            continue;
        }
        EXPECT_TRUE(told.size() == 1 && told[0].contains(c.says) && told[0].contains("chmod go-w"))
            << told.join('\n').toStdString();
        // What start-up puts in place of the settings is no edit: nothing to save, nothing failed.
        settings.ListenTime = AgentSettings::DefaultListenTime;
        store.AcceptDefaults(settings);
        EXPECT_NO_THROW(Save(store));
        commands.append(Command("mine"));
        EXPECT_THROW(Save(store), StoreError);
        EXPECT_EQ(Bytes(settingsFile), content);
    }
}

} // namespace
