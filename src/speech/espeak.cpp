#include "speech/espeak.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>

namespace speech {

namespace {

std::mutex& espeakMutex() {
    static std::mutex m;
    return m;
}

int collectSamples(short* wav, int count, espeak_EVENT* events) {
    if (wav && count > 0) {
        auto* out = static_cast<QByteArray*>(events->user_data);
        out->append(reinterpret_cast<const char*>(wav), count * qsizetype(sizeof(short)));
    }
    return 0;
}

} // namespace

Espeak& Espeak::instance() {
    static Espeak e;
    return e;
}

Espeak::Espeak() {
    std::lock_guard lock(espeakMutex());
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
    if (rate > 0) {
        sampleRate_ = rate;
        espeak_SetSynthCallback(collectSamples);
    }
}

QString Espeak::phonemes(const QString& text) {
    if (!isAvailable()) return {};
    std::lock_guard lock(espeakMutex());
    espeak_SetVoiceByName("en-us");
    const QByteArray utf8 = text.toUtf8();
    const void* cursor = utf8.constData();
    QStringList clauses;
    // One call translates up to the next clause boundary and advances the cursor.
    while (cursor) {
        const char* ph = espeak_TextToPhonemes(&cursor, espeakCHARS_UTF8, '_' << 8);
        if (ph && *ph) clauses << QString::fromUtf8(ph).trimmed();
    }
    return clauses.join(QLatin1Char(' '));
}

QByteArray Espeak::synthesize(const QString& text, const QString& voice, int wordsPerMinute, int pitch) {
    QByteArray pcm;
    if (!isAvailable() || text.trimmed().isEmpty()) return pcm;
    std::lock_guard lock(espeakMutex());
    if (espeak_SetVoiceByName(voice.toUtf8().constData()) != EE_OK) espeak_SetVoiceByName("en-us");
    espeak_SetParameter(espeakRATE, wordsPerMinute, 0);
    espeak_SetParameter(espeakPITCH, pitch, 0);
    const QByteArray utf8 = text.toUtf8();
    espeak_Synth(utf8.constData(), size_t(utf8.size() + 1), 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &pcm);
    return pcm;
}

} // namespace speech
