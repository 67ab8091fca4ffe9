#pragma once

namespace speech {

// The most frequent words of the model's language model that its dictionary pronounces, most
// frequent first; generated at build time.
extern const char* const CommonWords[];
extern const int CommonWordCount;

} // namespace speech
