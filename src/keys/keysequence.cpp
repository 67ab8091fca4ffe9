#include "keys/keysequence.h"

#include <algorithm>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace keys {
namespace {

// Texts are read as code points so that one non-ASCII character is one plain character.
using Text = std::u32string;
using View = std::u32string_view;

// Stands for a byte that is not valid UTF-8: it is no character and no key.
constexpr char32_t kInvalid = 0xFFFD;

// Numbers saturate here: anything this large is no key code, and the arithmetic cannot overflow.
constexpr std::int64_t kHuge = INT32_MAX;

// Decodes one code point at `i` and advances past it; an invalid byte decodes as kInvalid and is skipped alone.
char32_t DecodeAt(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    if (len == 0 || i + len > s.size()) {
        ++i;
        return kInvalid;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kInvalid;
    }
    i += len;
    return cp;
}

Text Decode(std::string_view s) {
    Text out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        out.push_back(DecodeAt(s, i));
    return out;
}

// Names and plain characters are compared in lower case; the back-end folds case beyond ASCII itself.
char32_t LowerAscii(char32_t c) {
    return c >= U'A' && c <= U'Z' ? c + 32 : c;
}

void LowerAscii(Text& text) {
    for (char32_t& c : text)
        c = LowerAscii(c);
}

// Every occurrence from left to right, without overlap.
template <typename String>
void ReplaceAll(String& text, typename String::const_pointer from, typename String::const_pointer to) {
    using V = std::basic_string_view<typename String::value_type>;
    const V f(from), t(to);
    if (text.find(f) == String::npos) return;
    String out;
    out.reserve(text.size() + text.size() / 2);
    size_t start = 0;
    for (size_t hit; (hit = text.find(f, start)) != String::npos; start = hit + f.size()) {
        out.append(text, start, hit - start);
        out.append(t);
    }
    out.append(text, start);
    text.swap(out);
}

Text RemoveAll(View text, View what) {
    Text out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t hit; (hit = text.find(what, start)) != View::npos; start = hit + what.size())
        out.append(text.substr(start, hit - start));
    out.append(text.substr(start));
    return out;
}

std::vector<View> Split(View text, char32_t separator) {
    std::vector<View> parts;
    if (text.empty()) return parts;
    size_t start = 0;
    for (size_t hit; (hit = text.find(separator, start)) != View::npos; start = hit + 1)
        parts.push_back(text.substr(start, hit - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Where a name is understood beyond a watch's remainder, which understands every name: "[ctrl][left]"
// or "[alt][space]" as a watch means what it says, instead of silently never firing.
enum Use : unsigned {
    Send = 1,   // typed by the sender
    Tested = 2, // tested first in a watch alternative, in the order of this table
};

struct KeyName {
    View name;
    int code;
    unsigned uses;
};

// Every key name, once. The tested names come first, in the order a watch tests them; adjacent tested
// names with the same code are one entry of that order.
constexpr KeyName kNames[] = {
    {U"[ctrl]", 0x11, Send | Tested},
    {U"[shift]", 0x10, Send | Tested},
    {U"[alt]", 0x12, Send | Tested},
    {U"[space]", 0x20, Send | Tested},
    {U"[print]", 0x2A, Tested},
    {U"[tab]", 0x09, Send | Tested},
    {U"[caps]", 0x14, Send | Tested},
    {U"[num]", 0x90, Send | Tested},
    {U"[scroll]", 0x91, Send | Tested},
    {U"[esc]", 0x1B, Send | Tested},
    {U"[escape]", 0x1B, Send | Tested},
    {U"[back]", 0x08, Send | Tested},
    {U"[backspace]", 0x08, Send | Tested},
    {U"[ent]", 0x0D, Send | Tested},
    {U"[enter]", 0x0D, Send | Tested},
    {U"[return]", 0x0D, Send | Tested},
    {U"[ins]", 0x2D, Send | Tested},
    {U"[insert]", 0x2D, Send | Tested},
    {U"[del]", 0x2E, Send | Tested},
    {U"[delete]", 0x2E, Send | Tested},
    {U"[home]", 0x24, Send | Tested},
    {U"[end]", 0x23, Send | Tested},
    {U"[pause]", 0x13, Send | Tested},
    {U"[play]", 0xFA, Send | Tested},
    {U"[next]", 0x22, Send | Tested},
    {U"[prev]", 0x21, Tested},
    {U"[m_prev]", 0xB1, Send | Tested},
    {U"[m_next]", 0xB0, Send | Tested},
    {U"[m_play]", 0xB3, Send | Tested},
    {U"[m_stop]", 0xB2, Send | Tested},
    {U"[v_mute]", 0xAD, Send | Tested},
    {U"[v_down]", 0xAE, Send | Tested},
    {U"[v_up]", 0xAF, Send | Tested},
    {U"[lctrl]", 0xA2, Send},
    {U"[lshift]", 0xA0, Send},
    {U"[lalt]", 0xA4, Send},
    {U"[rctrl]", 0xA3, Send},
    {U"[rshift]", 0xA1, Send},
    {U"[ralt]", 0xA5, Send},
    {U"[lclick]", 0x01, Send},
    {U"[mouse1]", 0x01, Send},
    {U"[mclick]", 0x04, Send},
    {U"[mousewheelclick]", 0x04, Send},
    {U"[rclick]", 0x02, Send},
    {U"[mouse2]", 0x02, Send},
    {U"[pgup]", 0x21, Send},
    {U"[pageup]", 0x21, Send},
    {U"[prior]", 0x21, Send},
    {U"[pgdn]", 0x22, Send},
    {U"[pagedown]", 0x22, Send},
    {U"[break]", 0x13, Send},
    {U"[left]", 0x25, Send},
    {U"[up]", 0x26, Send},
    {U"[right]", 0x27, Send},
    {U"[down]", 0x28, Send},
};

// Any name when `use` is 0.
std::optional<int> CodeOfName(View token, unsigned use) {
    for (const KeyName& n : kNames)
        if ((use == 0 || (n.uses & use)) && n.name == token) return n.code;
    return std::nullopt;
}

int DigitValue(char32_t c, int base) {
    int d = -1;
    if (c >= U'0' && c <= U'9')
        d = int(c - U'0');
    else if (c >= U'a' && c <= U'f')
        d = int(c - U'a') + 10;
    return d < base ? d : -1;
}

// Reads digits from the start and stops at the first that cannot continue the number; none reads as 0.
std::int64_t LeadingNumber(View digits, int base) {
    std::int64_t n = 0;
    for (char32_t c : digits) {
        const int d = DigitValue(c, base);
        if (d < 0) break;
        n = std::min(kHuge, n * base + d);
    }
    return n;
}

// A whole decimal number, or nothing: "[fx]", "[f]" and "[f1.5]" name no key.
std::optional<std::int64_t> WholeNumber(View digits) {
    if (digits.empty()) return std::nullopt;
    std::int64_t n = 0;
    for (char32_t c : digits) {
        const int d = DigitValue(c, 10);
        if (d < 0) return std::nullopt;
        n = std::min(kHuge, n * 10 + d);
    }
    return n;
}

std::int64_t FunctionKeyCode(std::int64_t n) {
    return n < 24 ? 0x6F + n : n;
}

bool StartsWith(View text, View prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The number inside "[f..]" or "[#..]".
View TokenNumber(View token) {
    return token.substr(2, token.size() - 3);
}

std::optional<std::int64_t> CodeOfToken(View token, unsigned use, int codeBase) {
    if (auto code = CodeOfName(token, use)) return *code;
    if (StartsWith(token, U"[f")) {
        if (auto n = WholeNumber(TokenNumber(token))) return FunctionKeyCode(*n);
        return std::nullopt;
    }
    if (StartsWith(token, U"[#")) return LeadingNumber(TokenNumber(token), codeBase);
    return std::nullopt;
}

// "&012", "&013", "&014" stand for ";", "[", "]".
std::optional<char32_t> PlaceholderAt(View text, size_t i) {
    const View unit = text.substr(i, 4);
    if (unit == U"&012") return U';';
    if (unit == U"&013") return U'[';
    if (unit == U"&014") return U']';
    return std::nullopt;
}

KeyCode CodeOfChar(char32_t c, KeyWatcher& keyboard) {
    if (c == kInvalid) return kNoKey;
    return keyboard.keyCodeOfChar(LowerAscii(c));
}

// The combined code of a text whose "[[" and "]]" are already placeholders.
std::int64_t CombinedCode(View text, KeyWatcher& keyboard) {
    std::int64_t code = 0;
    for (size_t i = 0; i < text.size();) {
        const char32_t c = text[i];
        if (c == U'[') {
            const size_t close = text.find(U']', i);
            // An unclosed "[" makes the rest an unlisted name.
            if (close == View::npos) break;
            Text token(text.substr(i, close - i + 1));
            LowerAscii(token);
            if (auto k = CodeOfToken(token, 0, 16)) code |= *k;
            i = close + 1;
        } else if (c == U'&') {
            if (auto ph = PlaceholderAt(text, i)) code |= CodeOfChar(*ph, keyboard);
            i += 4;
        } else {
            code |= CodeOfChar(c, keyboard);
            ++i;
        }
    }
    return code;
}

std::int32_t ClampCode(std::int64_t code) {
    return std::int32_t(std::min(code, kHuge));
}

// A control character that no key types has nothing to show: it is passed over.
bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// One key of a chord: a code, or a character that no key of the layout types.
struct Stroke {
    std::int64_t code;
    char32_t unmapped;
};

std::vector<Stroke> ChordStrokes(View part, Keyboard& keyboard) {
    std::vector<Stroke> strokes;
    const auto addChar = [&](char32_t c) {
        if (c == kInvalid) return;
        const KeyCode code = CodeOfChar(c, keyboard);
        if (code != kNoKey)
            strokes.push_back({code, 0});
        else if (!IsControl(c))
            strokes.push_back({0, c});
    };
    for (size_t i = 0; i < part.size();) {
        if (auto ph = PlaceholderAt(part, i)) {
            addChar(*ph);
            i += 4;
        } else if (part[i] == U'[') {
            const size_t close = part.find(U']', i);
            if (close == View::npos) break;
            // Codes outside one byte, and code 0, name no key and send nothing.
            const std::optional<std::int64_t> code = CodeOfToken(part.substr(i, close - i + 1), Send, 10);
            if (code && *code > 0 && *code < 256) strokes.push_back({*code, 0});
            i = close + 1;
        } else if (part[i] == U' ') {
            // A space is the space bar whatever the layout, as "[space]" is.
            strokes.push_back({0x20, 0});
            ++i;
        } else {
            addChar(part[i]);
            ++i;
        }
    }
    return strokes;
}

// The first closed token starting with `prefix` ("[#" or "[f"); an unclosed one is no token.
std::optional<View> TokenStarting(View text, View prefix) {
    const size_t at = text.find(prefix);
    if (at == View::npos) return std::nullopt;
    const size_t close = text.find(U']', at);
    if (close == View::npos) return std::nullopt;
    return text.substr(at, close - at + 1);
}

// The entry of an alternative that is tested first: a code token, the first tested name in table order,
// or a function-key token.
struct FirstEntry {
    std::optional<std::int64_t> testCode; // none for "[f24]" and above, which test nothing
    std::optional<Text> rest;             // the alternative without the entry; none when there is no entry
};

FirstEntry FindFirstEntry(const Text& lower) {
    if (const std::optional<View> token = TokenStarting(lower, U"[#"))
        return {LeadingNumber(TokenNumber(*token), 16), RemoveAll(lower, *token)};
    for (size_t i = 0; i < std::size(kNames) && (kNames[i].uses & Tested);) {
        // The entry: this name and the adjacent tested names of the same code.
        size_t end = i + 1;
        while (end < std::size(kNames) && (kNames[end].uses & Tested) && kNames[end].code == kNames[i].code)
            ++end;
        const auto names = std::span(kNames).subspan(i, end - i);
        i = end;
        if (std::none_of(names.begin(), names.end(),
                         [&](const KeyName& n) { return lower.find(n.name) != Text::npos; }))
            continue;
        Text rest = lower;
        for (const KeyName& n : names)
            rest = RemoveAll(rest, n.name);
        return {names.front().code, std::move(rest)};
    }
    if (const std::optional<View> token = TokenStarting(lower, U"[f")) {
        if (const std::optional<std::int64_t> n = WholeNumber(TokenNumber(*token)))
            return {*n < 24 ? std::optional(FunctionKeyCode(*n)) : std::nullopt, RemoveAll(lower, *token)};
    }
    return {};
}

bool AlternativeHeld(View alternative, const KeyState& state, KeyWatcher& keyboard) {
    // An empty alternative names no key: a stray ";" must not make a command fire at every tick.
    if (alternative.empty()) return false;
    Text lower(alternative);
    LowerAscii(lower);
    FirstEntry first = FindFirstEntry(lower);
    if (first.testCode && !state.isDown(*first.testCode)) return false;
    Text remainder = first.rest ? std::move(*first.rest) : Text(alternative);
    ReplaceAll(remainder, U"[[", U"&013");
    ReplaceAll(remainder, U"]]", U"&014");
    // With nothing left, the alternative is held only if some key was actually tested: "[f30]" alone never is.
    if (remainder.empty()) return first.testCode.has_value();
    return state.isDown(CombinedCode(remainder, keyboard));
}

} // namespace

KeyCode KeyCodeOfChar(std::string_view text, KeyWatcher& keyboard) {
    if (text.empty()) return 0;
    size_t i = 0;
    return CodeOfChar(DecodeAt(text, i), keyboard);
}

std::int32_t KeyCodeOfText(std::string& text, KeyWatcher& keyboard) {
    ReplaceAll(text, "[[", "&013");
    ReplaceAll(text, "]]", "&014");
    return ClampCode(CombinedCode(Decode(text), keyboard));
}

void PressKey(std::int64_t code, Keyboard& keyboard) {
    if (code > 0 && code < 256) keyboard.press(KeyCode(code));
}

void ReleaseKey(std::int64_t code, Keyboard& keyboard) {
    if (code > 0 && code < 256) keyboard.release(KeyCode(code));
}

void SendKeySequence(std::string_view text, Keyboard& keyboard) {
    KeySender sender;
    sender.queue(text, keyboard);
    while (const std::optional<KeySender::Clock::time_point> next = sender.send(keyboard))
        std::this_thread::sleep_until(*next);
}

void KeySender::queue(std::string_view text, Keyboard& keyboard) {
    Text copy = Decode(text);
    // Escapes are replaced before spaces are read, so " ]]" types a space and "]".
    ReplaceAll(copy, U";;", U"&012");
    ReplaceAll(copy, U"[[", U"&013");
    ReplaceAll(copy, U"]]", U"&014");
    LowerAscii(copy);
    bool sent = false;
    for (View part : Split(copy, U';')) {
        const std::vector<Stroke> strokes = ChordStrokes(part, keyboard);
        if (strokes.empty()) continue;
        // A character without a key is tapped in its place: its text arrives with the press, and its
        // borrowed key is free again for the next one, however many the chord holds.
        for (const Stroke& s : strokes)
            events_.push_back(s.unmapped ? Event{Step::Char, s.unmapped} : Event{Step::Press, char32_t(s.code)});
        for (const Stroke& s : strokes)
            if (!s.unmapped) events_.push_back({Step::Release, char32_t(s.code)});
        events_.push_back({Step::ChordEnd, 0});
        sent = true;
    }
    if (sent) events_.push_back({Step::Flush, 0});
}

namespace {
// The characters without a key among the next events, as far as one batch of lent keys could reach.
template <typename Events> std::u32string UpcomingChars(const Events& events) {
    constexpr size_t kLookAhead = 256;
    std::u32string chars;
    for (auto event = events.begin(); event != events.end() && chars.size() < kLookAhead; ++event)
        if (event->step == decltype(event->step)::Char) chars.push_back(event->value);
    return chars;
}
} // namespace

std::optional<KeySender::Clock::time_point> KeySender::send(Keyboard& keyboard, Clock::duration budget) {
    const Clock::time_point stop = Clock::now() + budget;
    while (!events_.empty()) {
        const Event event = events_.front();
        switch (event.step) {
        case Step::Press:
            PressKey(event.value, keyboard);
            ++held_;
            break;
        case Step::Release:
            ReleaseKey(event.value, keyboard);
            --held_;
            break;
        case Step::Char:
            if (const Clock::time_point ready = keyboard.charsReadyAt(UpcomingChars(events_)); ready > Clock::now()) {
                // What is sent so far must reach the windows now: the wait is for them to read it.
                keyboard.flush();
                return ready;
            }
            keyboard.pressChar(event.value);
            keyboard.releaseChar(event.value);
            break;
        case Step::ChordEnd:
            held_ = 0;
            if (Clock::now() >= stop && events_.size() > 1) {
                events_.pop_front();
                keyboard.flush();
                return Clock::now();
            }
            break;
        case Step::Flush:
            keyboard.flush();
            break;
        }
        events_.pop_front();
    }
    return std::nullopt;
}

void KeySender::abandon(Keyboard& keyboard) {
    // Releases follow the order of the presses: the first queued ones are those of the keys down.
    int left = held_;
    for (auto event = events_.begin(); left > 0 && event != events_.end(); ++event)
        if (event->step == Step::Release) ReleaseKey(event->value, keyboard), --left;
    if (held_ > 0) keyboard.flush();
    events_.clear();
    held_ = 0;
}

bool IsKeyWatchHeld(std::string_view watch, const KeyState& state, KeyWatcher& keyboard) {
    Text copy = Decode(watch);
    ReplaceAll(copy, U";;", U"&012");
    bool held = false;
    for (View alternative : Split(copy, U';'))
        held = AlternativeHeld(alternative, state, keyboard) || held;
    return held;
}

KeyWatch::KeyWatch(std::string_view watch) {
    Text copy = Decode(watch);
    ReplaceAll(copy, U";;", U"&012");
    for (View alternative : Split(copy, U';'))
        alternatives_.push_back(Parse(alternative));
}

// The steps of AlternativeHeld up to the key state, kept for every later call.
KeyWatch::Alternative KeyWatch::Parse(View alternative) {
    Alternative parsed;
    if (alternative.empty()) {
        parsed.empty = true;
        return parsed;
    }
    Text lower(alternative);
    LowerAscii(lower);

    FirstEntry first = FindFirstEntry(lower);
    parsed.testCode = first.testCode;
    Text remainder = first.rest ? std::move(*first.rest) : Text(alternative);
    ReplaceAll(remainder, U"[[", U"&013");
    ReplaceAll(remainder, U"]]", U"&014");
    parsed.remainderEmpty = remainder.empty();
    // As CombinedCode reads it, with the characters left for the layout in force at each call.
    const auto addChar = [&](char32_t c) {
        if (c == kInvalid)
            parsed.fixedCode |= kNoKey;
        else
            parsed.chars.push_back(LowerAscii(c));
    };
    const View text(remainder);
    for (size_t i = 0; i < text.size();) {
        const char32_t c = text[i];
        if (c == U'[') {
            const size_t close = text.find(U']', i);
            if (close == View::npos) break;
            Text token(text.substr(i, close - i + 1));
            LowerAscii(token);
            if (auto k = CodeOfToken(token, 0, 16)) parsed.fixedCode |= *k;
            i = close + 1;
        } else if (c == U'&') {
            if (auto ph = PlaceholderAt(text, i)) addChar(*ph);
            i += 4;
        } else {
            addChar(c);
            ++i;
        }
    }
    return parsed;
}

bool KeyWatch::isHeld(const KeyState& state, KeyWatcher& keyboard) const {
    for (const Alternative& alternative : alternatives_) {
        if (alternative.empty) continue;
        if (alternative.testCode && !state.isDown(*alternative.testCode)) continue;
        if (alternative.remainderEmpty) {
            if (alternative.testCode) return true;
            continue;
        }
        std::int64_t code = alternative.fixedCode;
        for (char32_t c : alternative.chars)
            code |= keyboard.keyCodeOfChar(c);
        if (state.isDown(code)) return true;
    }
    return false;
}

} // namespace keys
