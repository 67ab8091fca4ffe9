#include "keys/keysequence.h"

#include <algorithm>
#include <array>
#include <optional>
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

enum Column : unsigned { Send = 1, WatchTest = 2, WatchCode = 4 };

struct KeyName {
    View name;
    int code;
    unsigned columns;
};

constexpr unsigned kAll = Send | WatchTest | WatchCode;
constexpr KeyName kNames[] = {
    {U"[ctrl]", 0x11, kAll},
    {U"[shift]", 0x10, kAll},
    {U"[alt]", 0x12, kAll},
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
    {U"[space]", 0x20, Send | WatchTest},
    {U"[print]", 0x2A, WatchTest},
    {U"[tab]", 0x09, kAll},
    {U"[caps]", 0x14, kAll},
    {U"[num]", 0x90, kAll},
    {U"[scroll]", 0x91, kAll},
    {U"[esc]", 0x1B, kAll},
    {U"[escape]", 0x1B, kAll},
    {U"[back]", 0x08, kAll},
    {U"[backspace]", 0x08, kAll},
    {U"[ent]", 0x0D, kAll},
    {U"[enter]", 0x0D, kAll},
    {U"[return]", 0x0D, kAll},
    {U"[ins]", 0x2D, kAll},
    {U"[insert]", 0x2D, kAll},
    {U"[del]", 0x2E, kAll},
    {U"[delete]", 0x2E, kAll},
    {U"[home]", 0x24, kAll},
    {U"[end]", 0x23, kAll},
    {U"[pgup]", 0x21, Send | WatchCode},
    {U"[pageup]", 0x21, Send | WatchCode},
    {U"[prior]", 0x21, Send},
    {U"[prev]", 0x21, WatchTest},
    {U"[pgdn]", 0x22, Send | WatchCode},
    {U"[pagedown]", 0x22, Send | WatchCode},
    {U"[next]", 0x22, Send | WatchTest},
    {U"[pause]", 0x13, kAll},
    {U"[break]", 0x13, Send | WatchCode},
    {U"[play]", 0xFA, Send | WatchTest},
    {U"[m_next]", 0xB0, kAll},
    {U"[m_prev]", 0xB1, kAll},
    {U"[m_stop]", 0xB2, kAll},
    {U"[m_play]", 0xB3, kAll},
    {U"[v_mute]", 0xAD, kAll},
    {U"[v_down]", 0xAE, kAll},
    {U"[v_up]", 0xAF, kAll},
    {U"[left]", 0x25, Send},
    {U"[up]", 0x26, Send},
    {U"[right]", 0x27, Send},
    {U"[down]", 0x28, Send},
};

// A watch's remainder understands every name of any column: "[ctrl][left]" or "[alt][space]" as a watch
// means what it says, instead of silently never firing.
constexpr unsigned kRemainderColumns = kAll;

std::optional<int> CodeOfName(View token, unsigned columns) {
    for (const KeyName& n : kNames)
        if ((n.columns & columns) && n.name == token) return n.code;
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

std::optional<std::int64_t> CodeOfToken(View token, unsigned columns, int codeBase) {
    if (auto code = CodeOfName(token, columns)) return *code;
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

KeyCode CodeOfChar(char32_t c, Keyboard& keyboard) {
    if (c == kInvalid) return kNoKey;
    return keyboard.keyCodeOfChar(LowerAscii(c));
}

// The combined code of a text whose "[[" and "]]" are already placeholders.
std::int64_t CombinedCode(View text, Keyboard& keyboard) {
    std::int64_t code = 0;
    for (size_t i = 0; i < text.size();) {
        const char32_t c = text[i];
        if (c == U'[') {
            const size_t close = text.find(U']', i);
            // An unclosed "[" makes the rest an unlisted name.
            if (close == View::npos) break;
            Text token(text.substr(i, close - i + 1));
            LowerAscii(token);
            if (auto k = CodeOfToken(token, kRemainderColumns, 16)) code |= *k;
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

struct WatchEntry {
    enum Kind { Code, Named, Function } kind;
    int code;
    std::array<View, 3> names;
};

// Tested in this order; the first whose name occurs in an alternative is the one tested.
const WatchEntry kWatchTests[] = {
    {WatchEntry::Code, 0, {U"[#"}},
    {WatchEntry::Named, 0x11, {U"[ctrl]"}},
    {WatchEntry::Named, 0x10, {U"[shift]"}},
    {WatchEntry::Named, 0x12, {U"[alt]"}},
    {WatchEntry::Named, 0x20, {U"[space]"}},
    {WatchEntry::Named, 0x2A, {U"[print]"}},
    {WatchEntry::Named, 0x09, {U"[tab]"}},
    {WatchEntry::Named, 0x14, {U"[caps]"}},
    {WatchEntry::Named, 0x90, {U"[num]"}},
    {WatchEntry::Named, 0x91, {U"[scroll]"}},
    {WatchEntry::Named, 0x1B, {U"[esc]", U"[escape]"}},
    {WatchEntry::Named, 0x08, {U"[back]", U"[backspace]"}},
    {WatchEntry::Named, 0x0D, {U"[ent]", U"[enter]", U"[return]"}},
    {WatchEntry::Named, 0x2D, {U"[ins]", U"[insert]"}},
    {WatchEntry::Named, 0x2E, {U"[del]", U"[delete]"}},
    {WatchEntry::Named, 0x24, {U"[home]"}},
    {WatchEntry::Named, 0x23, {U"[end]"}},
    {WatchEntry::Named, 0x13, {U"[pause]"}},
    {WatchEntry::Named, 0xFA, {U"[play]"}},
    {WatchEntry::Named, 0x22, {U"[next]"}},
    {WatchEntry::Named, 0x21, {U"[prev]"}},
    {WatchEntry::Named, 0xB1, {U"[m_prev]"}},
    {WatchEntry::Named, 0xB0, {U"[m_next]"}},
    {WatchEntry::Named, 0xB3, {U"[m_play]"}},
    {WatchEntry::Named, 0xB2, {U"[m_stop]"}},
    {WatchEntry::Named, 0xAD, {U"[v_mute]"}},
    {WatchEntry::Named, 0xAE, {U"[v_down]"}},
    {WatchEntry::Named, 0xAF, {U"[v_up]"}},
    {WatchEntry::Function, 0, {U"[f"}},
};

// The first closed token starting with `prefix` ("[#" or "[f"); an unclosed one is no token.
std::optional<View> TokenStarting(View text, View prefix) {
    const size_t at = text.find(prefix);
    if (at == View::npos) return std::nullopt;
    const size_t close = text.find(U']', at);
    if (close == View::npos) return std::nullopt;
    return text.substr(at, close - at + 1);
}

bool AlternativeHeld(View alternative, const KeyState& state, Keyboard& keyboard) {
    // An empty alternative names no key: a stray ";" must not make a command fire at every tick.
    if (alternative.empty()) return false;
    Text lower(alternative);
    LowerAscii(lower);

    bool tested = false;
    bool down = true;
    std::optional<Text> rest;
    for (const WatchEntry& entry : kWatchTests) {
        if (entry.kind == WatchEntry::Named) {
            if (std::none_of(entry.names.begin(), entry.names.end(),
                             [&](View n) { return !n.empty() && lower.find(n) != Text::npos; }))
                continue;
            down = state.isDown(entry.code);
            tested = true;
            Text r = lower;
            for (View n : entry.names)
                if (!n.empty()) r = RemoveAll(r, n);
            rest = std::move(r);
            break;
        }
        const std::optional<View> token = TokenStarting(lower, entry.names[0]);
        if (!token) continue;
        if (entry.kind == WatchEntry::Code) {
            down = state.isDown(LeadingNumber(TokenNumber(*token), 16));
            tested = true;
        } else {
            const std::optional<std::int64_t> n = WholeNumber(TokenNumber(*token));
            if (!n) continue;
            // "[f24]" and above test nothing here.
            if (*n < 24) {
                down = state.isDown(FunctionKeyCode(*n));
                tested = true;
            }
        }
        rest = RemoveAll(lower, *token);
        break;
    }
    if (!down) return false;
    Text remainder = rest ? std::move(*rest) : Text(alternative);
    ReplaceAll(remainder, U"[[", U"&013");
    ReplaceAll(remainder, U"]]", U"&014");
    // With nothing left, the alternative is held only if some key was actually tested: "[f30]" alone never is.
    if (remainder.empty()) return tested;
    return state.isDown(CombinedCode(remainder, keyboard));
}

} // namespace

KeyCode KeyCodeOfChar(std::string_view text, Keyboard& keyboard) {
    if (text.empty()) return 0;
    size_t i = 0;
    return CodeOfChar(DecodeAt(text, i), keyboard);
}

std::int32_t KeyCodeOfText(std::string& text, Keyboard& keyboard) {
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
    Text copy = Decode(text);
    // Escapes are replaced before spaces are read, so " ]]" types a space and "]".
    ReplaceAll(copy, U";;", U"&012");
    ReplaceAll(copy, U"[[", U"&013");
    ReplaceAll(copy, U"]]", U"&014");
    LowerAscii(copy);
    bool sent = false;
    for (View part : Split(copy, U';')) {
        const std::vector<Stroke> strokes = ChordStrokes(part, keyboard);
        for (const Stroke& s : strokes)
            s.unmapped ? keyboard.pressChar(s.unmapped) : PressKey(s.code, keyboard);
        for (const Stroke& s : strokes)
            s.unmapped ? keyboard.releaseChar(s.unmapped) : ReleaseKey(s.code, keyboard);
        sent = sent || !strokes.empty();
    }
    if (sent) keyboard.flush();
}

bool IsKeyWatchHeld(std::string_view watch, const KeyState& state, Keyboard& keyboard) {
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

    std::optional<Text> rest;
    for (const WatchEntry& entry : kWatchTests) {
        if (entry.kind == WatchEntry::Named) {
            if (std::none_of(entry.names.begin(), entry.names.end(),
                             [&](View n) { return !n.empty() && lower.find(n) != Text::npos; }))
                continue;
            parsed.testCode = entry.code;
            Text r = lower;
            for (View n : entry.names)
                if (!n.empty()) r = RemoveAll(r, n);
            rest = std::move(r);
            break;
        }
        const std::optional<View> token = TokenStarting(lower, entry.names[0]);
        if (!token) continue;
        if (entry.kind == WatchEntry::Code) {
            parsed.testCode = LeadingNumber(TokenNumber(*token), 16);
        } else {
            const std::optional<std::int64_t> n = WholeNumber(TokenNumber(*token));
            if (!n) continue;
            if (*n < 24) parsed.testCode = FunctionKeyCode(*n);
        }
        rest = RemoveAll(lower, *token);
        break;
    }
    Text remainder = rest ? std::move(*rest) : Text(alternative);
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
            if (auto k = CodeOfToken(token, kRemainderColumns, 16)) parsed.fixedCode |= *k;
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

bool KeyWatch::isHeld(const KeyState& state, Keyboard& keyboard) const {
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
