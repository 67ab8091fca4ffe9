#include "store/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <random>
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
    EXPECT_TRUE(store.DatabaseCreated());
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
    EXPECT_FALSE(second.DatabaseCreated());
    EXPECT_EQ(again.StartupText, QStringLiteral("Welcome To Vorlix"));
}

TEST_F(StoreTest, EmptySettingsTableGivesTheOtherGreetingAndSaveWritesOneRow) {
    AgentSettings settings;
    CommandList commands;
    Load(settings, commands);
    Sql("DELETE FROM Settings");
    AgentSettings reloaded;
    reloaded.ListenTime = 7;
    SettingsStore store = MakeStore();
    store.LoadSettings(reloaded, commands);
    EXPECT_EQ(reloaded.StartupText, QStringLiteral("Welcome to Vorlix"));
    EXPECT_EQ(reloaded.ListenTime, 7);
    store.SaveSettings(reloaded, commands);
    Sql("INSERT INTO Settings (StartupText) VALUES ('second row')");
    AgentSettings first;
    Load(first, commands);
    EXPECT_EQ(first.StartupText, QStringLiteral("Welcome to Vorlix"));
    MakeStore().SaveSettings(first, commands);
    Database db(FilePath(), Database::Mode::OpenExisting);
    Statement count = db.prepare(QStringLiteral("SELECT count(*) FROM Settings"));
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.value(0).toLongLong(), 1);
}

TEST_F(StoreTest, SchemaPassAddsMissingTablesAndFieldsWithoutTouchingRows) {
    Sql("CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, ListenTime TEXT, Response "
        "TEXT, ResponseListen BOOLEAN);"
        "INSERT INTO Settings VALUES ('hello', 'Microphone', 'computer', '12', 'yes', 1);");
    AgentSettings settings;
    settings.ResponseCommand = true;
    CommandList commands;
    SettingsStore store = MakeStore();
    store.LoadSettings(settings, commands);
    EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(store.DatabaseCreated());
    // The added field is Null in the old row, so the member keeps its value.
    EXPECT_TRUE(settings.ResponseCommand);
    EXPECT_EQ(settings.StartupText, QStringLiteral("hello"));
    EXPECT_EQ(settings.ListenTime, 12);
    EXPECT_TRUE(settings.ResponseListen);
    EXPECT_EQ(Columns("Settings").last(), QStringLiteral("ResponseCommand"));
    EXPECT_EQ(Columns("KeyCommands"), (QStringList{"Index", "Name", "Watch", "Value", "Type", "ActionType"}));
    // The existing field's type is left alone.
    Database db(FilePath(), Database::Mode::OpenExisting);
    Statement type = db.prepare(QStringLiteral("SELECT type FROM pragma_table_info('Settings') WHERE name='ListenTime'"));
    ASSERT_TRUE(type.step());
    EXPECT_EQ(type.value(0).toString(), QStringLiteral("TEXT"));
}

TEST_F(StoreTest, NullFieldsAreSkippedSilently) {
    Sql("CREATE TABLE KeyCommands (Name TEXT, Watch TEXT, Type TEXT, ActionType TEXT);"
        "INSERT INTO KeyCommands VALUES ('one', NULL, 'Show Message', 'Menu Item');"
        "INSERT INTO KeyCommands VALUES (NULL, 'w', NULL, NULL);");
    AgentSettings settings;
    CommandList commands;
    Load(settings, commands);
    EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(commands.count(), 2);
    EXPECT_EQ(commands[1], (KeyCommand{"one", "Menu Item", "", "Show Message", ""}));
    EXPECT_EQ(commands[2], (KeyCommand{"", "", "w", "", ""}));
}

TEST_F(StoreTest, LettersInListenTimeAreATypeMismatchAndTheRestStillLoads) {
    Sql("CREATE TABLE Settings (StartupText TEXT, DeviceName TEXT, ListenCommand TEXT, ListenTime TEXT, Response "
        "TEXT, ResponseListen BOOLEAN, ResponseCommand BOOLEAN);"
        "INSERT INTO Settings VALUES ('hi', 'dev', 'computer', 'abc', 'ok', 1, 1);");
    AgentSettings settings;
    CommandList commands;
    Load(settings, commands);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].startsWith(QStringLiteral("Error # : 13\r\n"))) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].endsWith(QStringLiteral("\r\nLoadSettings")));
    EXPECT_EQ(settings.ListenTime, 0);
    EXPECT_EQ(settings, (AgentSettings{"hi", "dev", "computer", 0, "ok", true, true}));
}

TEST_F(StoreTest, TextsOfAnyLengthAndScriptRoundTripInOrder) {
    AgentSettings settings{QString(300, QChar(0x00E9)), QStringLiteral("Mikrofon – Ü"), QStringLiteral("コンピューター"), 9,
                           QStringLiteral("👍 done"), true, false};
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

TEST_F(StoreTest, ALockedFileIsReportedAndCopiedAsideBeforeItIsOverwritten) {
    AgentSettings original{"mine", "", "", 3, "", false, false};
    CommandList commands;
    commands.append(Command(QStringLiteral("precious")));
    MakeStore().SaveSettings(original, commands);

    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(FilePath().toUtf8().constData(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    AgentSettings settings;
    CommandList loaded;
    SettingsStore store = MakeStore();
    store.LoadSettings(settings, loaded);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_TRUE(reports[0].startsWith(QStringLiteral("Error # : 3045\r\n"))) << reports[0].toStdString();
    EXPECT_EQ(loaded.count(), 0);

    store.SaveSettings(settings, loaded);
    const QStringList kept = QDir(dir.path()).entryList({"settings.zqf.unread-*"});
    ASSERT_EQ(kept.size(), 1);
    QDir(dir.path()).mkdir(QStringLiteral("old"));
    QFile::rename(dir.filePath(kept[0]), dir.filePath(QStringLiteral("old/settings.zqf")));
    AgentSettings rescued;
    CommandList rescuedCommands;
    SettingsStore(dir.filePath(QStringLiteral("old"))).LoadSettings(rescued, rescuedCommands);
    EXPECT_EQ(rescued.StartupText, QStringLiteral("mine"));
    ASSERT_EQ(rescuedCommands.count(), 1);
    EXPECT_EQ(rescuedCommands[1].Name, QStringLiteral("precious"));
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
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(3);
        AgentSettings settings;
        CommandList commands;
        SettingsStore store(outer.path());
        QString out;
        store.report = [&](const QString& m) { out += m + QStringLiteral("\n"); };
        store.LoadSettings(settings, commands);
        try {
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

// A save killed at any moment leaves either the old or the new content, never a table short of rows.
TEST_F(StoreTest, ASaveKilledMidwayLeavesAWholeFile) {
    auto version = [](int tag) {
        CommandList commands;
        for (int i = 0; i < 3000; ++i)
            commands.append(Command(QStringLiteral("v%1 #%2").arg(tag).arg(i)));
        return commands;
    };
    AgentSettings settings;
    MakeStore().SaveSettings(settings, version(0));
    std::mt19937 random(42);
    for (int round = 0; round < 6; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            SettingsStore store(dir.path());
            for (int tag = 1;; tag = 1 - tag) {
                AgentSettings s;
                s.ListenTime = tag;
                store.SaveSettings(s, version(tag));
            }
        }
        usleep(useconds_t(20000 + random() % 150000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        AgentSettings loaded;
        CommandList commands;
        Load(loaded, commands);
        ASSERT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();
        ASSERT_EQ(commands.count(), 3000) << "round " << round;
        const QString tag = commands[1].Name.section(QLatin1Char(' '), 0, 0);
        EXPECT_EQ(commands[3000].Name, tag + QStringLiteral(" #2999"));
    }
}

} // namespace
