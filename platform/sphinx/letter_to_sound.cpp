#include "platform/sphinx/letter_to_sound.h"

#include <QRegularExpression>
#include <QStringList>
#include <mutex>

extern "C" {
#include <flite/cst_lexicon.h>
#include <flite/cst_val.h>
// flite's CMU lexicon; its header is not installed.
cst_lexicon* cmu_lex_init(void);
}

namespace vistrale {
namespace {

// flite's phones that the recogniser's phone set writes otherwise.
QString recogniserPhone(QString phone)
{
    phone.remove(QRegularExpression("[0-9]"));
    if (phone == "ax")
        return "AH";
    if (phone == "axr")
        return "ER";
    return phone.toUpper();
}

} // namespace

std::optional<QString> englishPronunciation(const QString& word)
{
    static const QRegularExpression spellable("^[a-z']*[a-z][a-z']*$");
    const QString lower = word.toLower();
    if (!spellable.match(lower).hasMatch())
        return std::nullopt;
    static std::mutex lock;
    std::lock_guard guard(lock);
    static cst_lexicon* lexicon = cmu_lex_init();
    if (!lexicon)
        return std::nullopt;
    const QByteArray text = lower.toLatin1();
    cst_val* phones = lex_lookup(lexicon, text.constData(), nullptr, nullptr);
    QStringList result;
    for (const cst_val* item = phones; item; item = val_cdr(item)) {
        const QString phone = recogniserPhone(QString::fromLatin1(val_string(val_car(item))));
        if (phone != "PAU" && !phone.isEmpty())
            result << phone;
    }
    delete_val(phones);
    if (result.isEmpty())
        return std::nullopt;
    return result.join(' ');
}

} // namespace vistrale
