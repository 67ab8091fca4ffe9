#include "commands/agent.h"
#include "commands/programstarter.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <limits>

namespace {

class AgentTest : public ::testing::Test {
protected:
    RecordingHost host;
    RecordingSpeech speech;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    Agent agent{host, speech, keyboard, programs};

    void Add(const QString& trigger, const QString& watch, const QString& type, const QString& value) {
        agent.commands.append(KeyCommand{watch, trigger, watch, type, value});
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i)
            agent.tick();
    }
};

TEST_F(AgentTest, RunCommandDispatchesOnTheExactActionKind) {
    agent.RunCommand({"", "", "", "Show Message", "hello"});
    agent.RunCommand({"", "", "", "Say Message", "spoken"});
    agent.RunCommand({"", "", "", "Execute Program", "/bin/true --flag"});
    agent.RunCommand({"", "", "", "Send Key(s)", "ab"});
    for (const char* ignored : {"Mouse Action", "show message", "Teleport", ""})
        agent.RunCommand({"", "", "", ignored, "ignored"});
    EXPECT_EQ(host.calls, QStringList{"message hello"});
    EXPECT_EQ(speech.spoken, QStringList{"spoken"});
    EXPECT_EQ(programs.started, QStringList{"/bin/true --flag"});
    EXPECT_EQ(keyboard.log(), "+41 +42 -41 -42 flush");
}

TEST_F(AgentTest, AProgramThatCannotStartIsToldWithItsCommandLine) {
    programs.failing << "nosuchprogram --x";
    agent.RunCommand({"", "", "", "Execute Program", "nosuchprogram --x"});
    ASSERT_EQ(host.calls.size(), 1);
    EXPECT_TRUE(host.calls[0].startsWith("notify nosuchprogram --x")) << host.calls[0].toStdString();
}

TEST_F(AgentTest, UpdateVoiceHandsOverThePhrasesOfTheCurrentMode) {
    Add("Voice Command", "open mail", "Send Key(s)", "");
    Add("voice command", "other case", "Send Key(s)", "");
    Add("Menu Item", "menu", "Send Key(s)", "");
    Add("Voice Command", "close", "Send Key(s)", "");

    agent.UpdateVoice();
    EXPECT_EQ(speech.words, (QStringList{"open mail", "close"}));
    EXPECT_EQ(host.phrases, Phrases::VoiceCommands);

    agent.settings.ListenCommand = "computer,hey you";
    agent.UpdateVoice();
    EXPECT_EQ(speech.words, (QStringList{"computer", "hey you"}));
    EXPECT_EQ(host.phrases, Phrases::ListenPhrases);

    // Blanks only still count as a listen phrase here.
    agent.settings.ListenCommand = "   ";
    agent.UpdateVoice();
    EXPECT_EQ(speech.words, QStringList{"   "});

    // With no phrase at all the recogniser keeps its list.
    agent.settings.ListenCommand.clear();
    agent.commands.reset();
    speech.calls.clear();
    host.calls.clear();
    agent.UpdateVoice();
    EXPECT_TRUE(speech.calls.isEmpty());
    EXPECT_EQ(host.calls, QStringList{"phrases commands"});
}

TEST_F(AgentTest, TheRoadOfOneVoiceCommand) {
    agent.settings.ListenCommand = "computer";
    agent.settings.ListenTime = 5;
    agent.settings.Response = "Command Understood";
    agent.settings.ResponseListen = true;
    agent.settings.ResponseCommand = true;
    Add("Voice Command", "open mail", "Show Message", "mail opened");
    agent.UpdateVoice();
    EXPECT_EQ(speech.words, QStringList{"computer"});

    // Only high confidence acts.
    agent.onRecognized("computer", 0.0f);
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);

    agent.onRecognized("Computer", 1.0f);
    EXPECT_EQ(agent.mode, ListenMode::WindowOpen);
    EXPECT_EQ(speech.words, QStringList{"open mail"});
    EXPECT_EQ(host.phrases, Phrases::VoiceCommands);
    EXPECT_EQ(speech.spoken, QStringList{"Command Understood"});

    Ticks(3);
    EXPECT_EQ(agent.windowTicks, 3);
    agent.onRecognized("open mail", 1.0f);
    EXPECT_TRUE(host.calls.contains("message mail opened"));
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
    EXPECT_EQ(speech.words, QStringList{"computer"});
    EXPECT_EQ(host.phrases, Phrases::ListenPhrases);
    EXPECT_EQ(speech.spoken.size(), 2);
}

TEST_F(AgentTest, ListenPhrasesSplitAtBareCommas) {
    agent.settings.ListenCommand = "alpha, beta";
    agent.settings.Response = "yes";
    agent.settings.ResponseListen = true;
    agent.onRecognized("beta", 1.0f);
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed) << "the second piece keeps its leading blank";
    EXPECT_EQ(speech.spoken, QStringList{"yes"}) << "the answer is given all the same";
    agent.onRecognized(" beta", 1.0f);
    EXPECT_EQ(agent.mode, ListenMode::WindowOpen);
}

TEST_F(AgentTest, DuplicatePhrasesRunEveryMatchInListOrder) {
    agent.settings.ListenCommand = "computer";
    Add("Voice Command", "Open Mail", "Show Message", "first");
    Add("Voice Command", "open mail", "Show Message", "second");
    Add("VOICE COMMAND", "open mail", "Show Message", "third");
    agent.mode = ListenMode::WindowOpen;
    agent.onRecognized("OPEN MAIL", 1.0f);
    QStringList messages = host.calls.filter("message");
    EXPECT_EQ(messages, (QStringList{"message first", "message second", "message third"}));
    EXPECT_EQ(speech.calls.filter("SetWords").size(), 3) << "the window closes after each";
}

TEST_F(AgentTest, WithoutAListenPhraseCommandsAreAlwaysLive) {
    Add("Voice Command", "go", "Say Message", "going");
    agent.mode = ListenMode::WindowOpen;
    agent.onRecognized("go", 1.0f);
    agent.onRecognized("go", 1.0f);
    EXPECT_EQ(speech.spoken, (QStringList{"going", "going"}));
    EXPECT_EQ(agent.mode, ListenMode::WindowOpen) << "left as it is";
    Ticks(10);
    EXPECT_EQ(agent.windowTicks, 0) << "no window to count down";
}

TEST_F(AgentTest, TheListeningWindowClosesOnTheTickThatCompletesListenTime) {
    agent.settings.ListenCommand = "computer";
    agent.settings.ListenTime = 5;
    agent.onRecognized("computer", 1.0f);
    Ticks(49);
    EXPECT_EQ(agent.mode, ListenMode::WindowOpen);
    Ticks(1);
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
    EXPECT_EQ(host.phrases, Phrases::ListenPhrases);

    for (qint32 endless : {0, -3}) {
        agent.settings.ListenTime = endless;
        agent.onRecognized("computer", 1.0f);
        Ticks(300);
        EXPECT_EQ(agent.mode, ListenMode::WindowOpen) << endless;
        agent.mode = ListenMode::WindowClosed;
    }
}

TEST_F(AgentTest, HugeListenTimesNeverOverflow) {
    agent.settings.ListenCommand = "computer";
    for (qint32 huge : {std::numeric_limits<qint32>::max(), 214748365}) {
        agent.settings.ListenTime = huge;
        agent.onRecognized("computer", 1.0f);
        Ticks(1);
        EXPECT_EQ(agent.mode, ListenMode::WindowOpen) << huge;
        // Skip ahead to just before the window's end: it still closes on time.
        agent.windowTicks = qint64(huge) * 10 - 1;
        Ticks(1);
        EXPECT_EQ(agent.mode, ListenMode::WindowClosed) << huge;
    }
}

TEST_F(AgentTest, TheListeningSwitch) {
    agent.settings.ListenCommand = "computer";
    agent.UpdateVoice();
    host.calls.clear();
    agent.toggleListening();
    EXPECT_FALSE(agent.isListening());
    EXPECT_EQ(host.calls, QStringList{"listening off"});
    EXPECT_FALSE(speech.active);

    agent.toggleListening();
    EXPECT_TRUE(agent.isListening());
    EXPECT_TRUE(speech.active);
    EXPECT_EQ(host.calls, (QStringList{"listening off", "listening on", "phrases listen"}));
}

TEST_F(AgentTest, MenuClicksRunEveryCommandWithThatCaption) {
    Add("Menu Item", "Mail", "Show Message", "one");
    Add("Menu Item", "mail", "Show Message", "other case");
    Add("Voice Command", "Mail", "Show Message", "voice");
    Add("Menu Item", "Mail", "Show Message", "two");
    agent.RunMenuCommands("Menu Item", "Mail");
    EXPECT_EQ(host.calls, (QStringList{"message one", "message two"}));
}

TEST_F(AgentTest, EachTickAnswersTheHotKeyTheTimeoutAndEveryHeldWatch) {
    Add("Key Watch", "[ctrl]y", "Send Key(s)", "a");
    Add("key watch", "[ctrl]y", "Send Key(s)", "b");
    Add("Key Watch", "x;[ctrl]y", "Send Key(s)", "c");
    Add("Key Watch", "[ctrl]l", "Say Message", "also on the hot key");
    Add("Key Watch", "y;", "Send Key(s)", "d");

    Ticks(3);
    EXPECT_EQ(keyboard.log(), "") << "nothing held, nothing fires; a stray ';' never counts as held";

    keyboard.hold({0x11});
    Ticks(1);
    EXPECT_EQ(keyboard.log(), "") << "Ctrl alone is not Ctrl+Y";

    keyboard.hold({0x11, 0x59});
    Ticks(2);
    // No edge detection: every tick fires again, in list order, and "key watch" in other case never.
    EXPECT_EQ(keyboard.log(), "+41 -41 flush +43 -43 flush +44 -44 flush +41 -41 flush +43 -43 flush +44 -44 flush");

    keyboard.state = {};
    keyboard.events.clear();
    keyboard.hold({0x11, 0x4C});
    Ticks(3);
    EXPECT_EQ(host.calls.filter("listening").size(), 3) << "held across three ticks, the switch turns three times";
    EXPECT_FALSE(agent.isListening());
    EXPECT_EQ(speech.spoken.size(), 3) << "a watch on [ctrl]l fires in the same ticks";
}

TEST_F(AgentTest, TheTickClosesTheWindowBeforeItPollsTheWatches) {
    agent.settings.ListenCommand = "computer";
    agent.settings.ListenTime = 1;
    Add("Key Watch", "[f5]", "Say Message", "");
    Add("Voice Command", "go", "Say Message", "");
    agent.onRecognized("computer", 1.0f);
    keyboard.hold({0x74});
    speech.calls.clear();
    Ticks(10);
    EXPECT_EQ(agent.mode, ListenMode::WindowClosed);
    EXPECT_EQ(speech.calls.filter("SetWords"), QStringList{"SetWords computer"});
    EXPECT_EQ(speech.spoken.size(), 10);
}

TEST(SplitCommandLine, QuotesGroupAndNothingElseIsSpecial) {
    EXPECT_EQ(SplitCommandLine(R"(  prog  "a b"  c"d e"f "" $HOME;ls|x "say ""hi""" )"),
              (QStringList{"prog", "a b", "cd ef", "", "$HOME;ls|x", "say \"hi\""}));
    EXPECT_TRUE(SplitCommandLine("   ").isEmpty());
}

TEST(DetachedProgramStarter, StartsARealProgramAndExplainsOneThatIsMissing) {
    QTemporaryDir dir;
    const QString marker = dir.filePath("made by vorlix");
    DetachedProgramStarter starter;
    QString error;
    ASSERT_TRUE(starter.Start(QStringLiteral("touch \"%1\"").arg(marker), &error)) << error.toStdString();
    for (int i = 0; i < 100 && !QFile::exists(marker); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(QFile::exists(marker));

    EXPECT_FALSE(starter.Start("no-such-program-xyz --help", &error));
    EXPECT_TRUE(error.contains("no-such-program-xyz")) << error.toStdString();
    EXPECT_FALSE(starter.Start(dir.path(), &error));
    EXPECT_TRUE(starter.Start("", &error)) << "an empty command line starts nothing";
}

} // namespace
