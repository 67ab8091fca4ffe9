#include "support/fakes.h"

#include <QtCore>
#include <gtest/gtest.h>

namespace {

struct AgentTest : ::testing::Test, FakeAgent {
    void Add(const QString& kind, const QString& watch, const QString& type, const QString& value = {}) {
        agent.commands.append(KeyCommand{watch, kind, watch, type, value});
    }
    void Ticks(int n) {
        while (n-- > 0)
            agent.tick();
    }
    QStringList messages() const { return host.calls.filter("message "); }
};

TEST_F(AgentTest, RunCommandDispatchesOnTheExactActionKind) {
    programs.failing << "missing --x";
    for (const QString row :
         {"Show Message=hello", "Say Message=spoken", "Execute Program=/bin/true --flag", "Send Key(s)=ab",
          "Execute Program=missing --x", "Mouse Action=x", "show message=x", "=x"})
        agent.RunCommand({"", "", "", row.section('=', 0, 0), row.section('=', 1)});
    EXPECT_EQ(host.calls + speech.spoken + programs.started,
              (QStringList{"message hello", "notify missing --x\nnot found", "spoken", "/bin/true --flag"}));
    EXPECT_EQ(keyboard.log(), "+41 +42 -41 -42 flush");
}

TEST_F(AgentTest, TheListenPhraseOpensTheWindowForListenTime) {
    agent.settings.Response = "yes";
    agent.settings.ResponseListen = agent.settings.ResponseCommand = true;
    Add("Voice Command", "Open Mail", "Show Message", "first");
    Add("voice command", "open mail", "Show Message", "second");
    Add("Menu Item", "open mail", "Show Message", "menu");
    Add("Voice Command", "close", "Show Message", "closed");
    agent.UpdateVoice();
    EXPECT_EQ(speech.words, (QStringList{"Open Mail", "close"})) << "no listen phrase: the commands are live";
    agent.onRecognized("close", 1.0f);
    agent.onRecognized("close", 1.0f);
    Ticks(10);
    EXPECT_EQ(messages(), (QStringList{"message closed", "message closed"}));
    agent.settings.ListenCommand = "computer, hey you";
    agent.settings.ListenTime = 5;
    agent.UpdateVoice();
    EXPECT_EQ(speech.words, (QStringList{"computer", " hey you"}));
    EXPECT_EQ(host.calls.last(), "phrases listen");

    agent.onRecognized("open mail", 1.0f); // outside the window
    agent.onRecognized("computer", 0.0f);  // Normal, not High
    agent.onRecognized("hey you", 1.0f);   // the second piece keeps its leading blank
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
    EXPECT_EQ(messages().size(), 2);
    EXPECT_EQ(speech.spoken.size(), 4) << "an answer all the same";

    agent.onRecognized("Computer", 1.0f);
    EXPECT_EQ(agent.mode, ListenMode::WindowOpen);
    EXPECT_EQ(speech.words, (QStringList{"Open Mail", "close"}));
    agent.onRecognized("open mail", 0.0f);
    Ticks(49);
    agent.onRecognized("OPEN MAIL", 1.0f); // every match runs, in list order, then the window closes
    EXPECT_EQ(messages().mid(2), (QStringList{"message first", "message second"}));
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
    EXPECT_EQ(speech.words, (QStringList{"computer", " hey you"}));
    EXPECT_EQ(speech.spoken.size(), 6);

    for (qint32 seconds : {0, -3, 214748365}) { // not above 0: open for ever
        agent.settings.ListenTime = seconds;
        agent.mode = ListenMode::WindowClosed;
        agent.onRecognized("computer", 1.0f);
        Ticks(300);
        EXPECT_EQ(agent.mode, ListenMode::WindowOpen) << seconds;
        if (seconds <= 0) continue;
        agent.windowTicks = qint64(seconds) * 10 - 1; // just before the end: it still closes on time
        Ticks(1);
        EXPECT_EQ(agent.mode, ListenMode::WindowClosed) << seconds;
    }
}

TEST_F(AgentTest, EachTickAnswersTheHotKeyTheTimeoutAndEveryHeldWatch) {
    agent.settings.ListenCommand = "computer";
    agent.settings.ListenTime = 1;
    Add("Key Watch", "[ctrl]y", "Send Key(s)", "a");
    Add("key watch", "[ctrl]y", "Send Key(s)", "b");
    Add("Key Watch", "x;[ctrl]y", "Send Key(s)", "c");
    Add("Key Watch", "[ctrl]l", "Say Message", "also on the hot key");
    Add("Key Watch", "y;", "Send Key(s)", "d");
    Add("Menu Item", "Mail", "Send Key(s)", "m");
    Add("Menu Item", "mail", "Send Key(s)", "n");
    agent.RunMenuCommands("Menu Item", "Mail");
    keyboard.hold({0x11});
    Ticks(2);
    EXPECT_EQ(keyboard.log(), "+4D -4D flush") << "the caption exactly; Ctrl is not Ctrl+Y; a stray ';' is never held";
    keyboard.events.clear();

    keyboard.hold({0x11, 0x59});
    Ticks(2); // no edge detection: every tick fires again
    EXPECT_EQ(keyboard.log(), "+41 -41 flush +43 -43 flush +44 -44 flush +41 -41 flush +43 -43 flush +44 -44 flush");

    keyboard.state = {};
    keyboard.hold({0x11, 0x4C});
    agent.onRecognized("computer", 1.0f);
    Ticks(10);
    EXPECT_EQ(host.calls.filter("listening").size(), 10) << "held, the switch turns at every tick";
    EXPECT_TRUE(agent.isListening());
    EXPECT_EQ(speech.spoken.size(), 10);
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
}

// Programs that do start are started end to end, by the menu and voice commands of the e2e tests.
TEST(ProgramStarter, SplitsQuotesOnlyAndRefusesWhatIsNoProgram) {
    EXPECT_EQ(SplitCommandLine(R"(  prog  "a b"  c"d e"f "" $HOME;ls|x "say ""hi""" )"),
              (QStringList{"prog", "a b", "cd ef", "", "$HOME;ls|x", "say \"hi\""}));
    DetachedProgramStarter starter;
    QString error;
    EXPECT_FALSE(starter.Start("no-such-program-xyz --help", &error));
    EXPECT_TRUE(error.contains("no-such-program-xyz")) << error.toStdString();
    EXPECT_FALSE(starter.Start(QDir::tempPath(), &error));
    EXPECT_TRUE(starter.Start("", &error)) << "an empty command line starts nothing";

    // With a NUL, "touch" would be given the file name up to it: refused, and nothing is made.
    const QString made = QDir::temp().filePath(QStringLiteral("vorlix-nul-%1").arg(QCoreApplication::applicationPid()));
    QFile::remove(made);
    error.clear();
    EXPECT_FALSE(starter.Start(QStringLiteral("touch \"%1").arg(made) + QChar(0) + QStringLiteral("-tail\""), &error));
    EXPECT_TRUE(error.contains("NUL")) << error.toStdString();
    EXPECT_TRUE(starter.Start(QStringLiteral("touch %1").arg(made), &error)) << error.toStdString();
    for (int i = 0; i < 100 && !QFile::exists(made); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(QFile::exists(made)) << "the same line without the NUL does start";
    QFile::remove(made);
}

} // namespace
