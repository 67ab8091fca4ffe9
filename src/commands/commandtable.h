#pragma once

#include <QString>
#include <QtGlobal>
#include <stdexcept>
#include <vector>

// One user-defined command. The field names are the columns of the KeyCommands table:
// ActionType holds the trigger kind and Type the action kind.
struct KeyCommand {
    QString Name;
    QString ActionType;
    QString Watch;
    QString Type;
    QString Value;
    // The settings file's row that holds this command, 0 while it has none. Not part of what the
    // command is: a save uses it to write only what changed.
    qint64 RowId = 0;

    bool operator==(const KeyCommand& other) const {
        return Name == other.Name && ActionType == other.ActionType && Watch == other.Watch && Type == other.Type &&
               Value == other.Value;
    }
};

namespace Kind {
// Trigger kinds, in the order the editor offers them.
inline const QString KeyWatch = QStringLiteral("Key Watch");
inline const QString MenuItem = QStringLiteral("Menu Item");
inline const QString VoiceCommand = QStringLiteral("Voice Command");
// Action kinds; the editor offers the first four.
inline const QString SendKeys = QStringLiteral("Send Key(s)");
inline const QString ExecuteProgram = QStringLiteral("Execute Program");
inline const QString ShowMessage = QStringLiteral("Show Message");
inline const QString SayMessage = QStringLiteral("Say Message");
inline const QString MouseAction = QStringLiteral("Mouse Action");
} // namespace Kind

// All commands. Slot 0 always exists and never holds a command; commands are slots 1..count(),
// and every walk runs from slot 1 upward. revision() changes with every access that could change the
// list, so that what is derived from it (the parsed key watches) is rebuilt only when needed: read
// through a const reference wherever nothing is changed.
class CommandList {
public:
    CommandList() : slots_(1) {}

    void reset() {
        ++revision_;
        slots_.assign(1, KeyCommand{});
    }
    int count() const { return int(slots_.size()) - 1; }
    bool isEmpty() const { return count() == 0; }
    quint64 revision() const { return revision_; }

    KeyCommand& operator[](int slot) {
        ++revision_;
        return slots_.at(size_t(slot));
    }
    const KeyCommand& operator[](int slot) const { return slots_.at(size_t(slot)); }

    void append(const KeyCommand& command) {
        ++revision_;
        slots_.push_back(command);
    }
    // Slots after `slot` move down by one.
    void remove(int slot) {
        ++revision_;
        slots_.erase(slots_.begin() + checkedSlot(slot));
    }

    auto begin() {
        ++revision_;
        return slots_.begin() + 1;
    }
    auto end() { return slots_.end(); }
    auto begin() const { return slots_.begin() + 1; }
    auto end() const { return slots_.end(); }

private:
    int checkedSlot(int slot) const {
        if (slot < 1 || slot > count()) throw std::out_of_range("command slot out of range");
        return slot;
    }
    std::vector<KeyCommand> slots_;
    quint64 revision_ = 0;
};

struct AgentSettings {
    // The listening time that replaces 0 when the options are filled at start-up.
    static constexpr qint32 DefaultListenTime = 5;
    // The DeviceName that stands for the speech engine's default input device.
    static inline const QString DefaultDevice = QStringLiteral("(default)");

    QString StartupText;
    QString DeviceName;
    QString ListenCommand;
    qint32 ListenTime = 0;
    QString Response;
    bool ResponseListen = false;
    bool ResponseCommand = false;

    bool operator==(const AgentSettings&) const = default;
};

// Removes leading and trailing blanks (code 32) only; tabs and other white space stay.
QString TrimBlanks(const QString& text);
