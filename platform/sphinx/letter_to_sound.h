#pragma once

#include <QString>
#include <optional>

namespace vistrale {

// A pronunciation in the recogniser's English phone set ("V IH S T R AA L") for a
// word written in the letters a to z and "'" (any letter case): from flite's lexicon
// when it knows the word, else from its letter-to-sound rules. None for a word with
// other characters or one the rules cannot spell. Any thread.
std::optional<QString> englishPronunciation(const QString& word);

} // namespace vistrale
