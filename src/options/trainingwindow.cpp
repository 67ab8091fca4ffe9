#include "options/trainingwindow.h"

#include "commands/commandtable.h"
#include "options/voicetraining.h"
#include "speech/audioinput.h"
#include "speech/voicemodel.h"

#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int SampleRate = 16000;
constexpr std::size_t BlockSamples = SampleRate / 50; // 20 ms
// Kept from before the level rose, so that a soft first sound is not cut off.
constexpr std::size_t PrerollSamples = SampleRate * 3 / 10;
// Speech: this many blocks in a row well above the background, and at least this loud (RMS of
// 16-bit samples; about -42 dBFS).
constexpr int StartBlocks = 3;
constexpr double MinimumSpeechLevel = 250;
constexpr double MinimumPauseLevel = 120;
// A pause this long ends the sentence: longer than the pauses at commas.
constexpr int EndBlocks = 40;
constexpr std::size_t MaximumTakeSamples = SampleRate * 20;
constexpr std::size_t MinimumTakeSamples = SampleRate / 2;
constexpr qint64 NoAudioMs = 2000;
constexpr qint64 NothingHeardMs = 12000;

double rmsOf(const int16_t* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return count ? std::sqrt(sum / double(count)) : 0;
}

} // namespace

TrainingWindow::TrainingWindow(VoiceTraining& training, const QString& deviceName, QWidget* parent)
    : QDialog(parent), training_(training),
      deviceName_(deviceName == AgentSettings::DefaultDevice ? QString() : deviceName) {
    setObjectName(QStringLiteral("frmTraining"));
    setWindowTitle(QStringLiteral("Vorlix Voice Training"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("Read each sentence aloud at your normal pace and in your normal voice. "
                                            "When you stop, Vorlix keeps the recording and shows the next sentence."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    lblStep = new QLabel(this);
    lblStep->setObjectName(QStringLiteral("lblStep"));
    layout->addWidget(lblStep);
    lblSentence = new QLabel(this);
    lblSentence->setObjectName(QStringLiteral("lblSentence"));
    lblSentence->setWordWrap(true);
    lblSentence->setMinimumHeight(fontMetrics().height() * 4);
    lblSentence->setFrameShape(QFrame::StyledPanel);
    lblSentence->setMargin(8);
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    lblSentence->setFont(big);
    layout->addWidget(lblSentence);
    pbLevel = new QProgressBar(this);
    pbLevel->setObjectName(QStringLiteral("pbLevel"));
    pbLevel->setRange(0, 100);
    pbLevel->setTextVisible(false);
    pbLevel->setToolTip(QStringLiteral("The level of the microphone"));
    layout->addWidget(pbLevel);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    layout->addWidget(lblStatus);
    pbAdapt = new QProgressBar(this);
    pbAdapt->setObjectName(QStringLiteral("pbAdapt"));
    pbAdapt->setFormat(QStringLiteral("Learning your voice: %p%"));
    pbAdapt->hide();
    layout->addWidget(pbAdapt);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& caption, const QString& tip) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    cmdSayAgain = button("cmdSayAgain", QStringLiteral("Say &Again"), QStringLiteral("Record the last sentence again"));
    cmdSkip = button("cmdSkip", QStringLiteral("S&kip"), QStringLiteral("Go on to the next sentence without this one"));
    buttons->addStretch();
    cmdTrain = button("cmdTrain", QStringLiteral("&Train Now"),
                      QStringLiteral("Let Vorlix learn your voice from the sentences recorded so far"));
    cmdClose = button("cmdClose", QStringLiteral("&Close"),
                      QStringLiteral("Close the window; the recordings are kept, and learning goes on"));
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    connect(cmdSayAgain, &QPushButton::clicked, this, &TrainingWindow::cmdSayAgain_Click);
    connect(cmdSkip, &QPushButton::clicked, this, &TrainingWindow::cmdSkip_Click);
    connect(cmdTrain, &QPushButton::clicked, this, &TrainingWindow::cmdTrain_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(&training_, &VoiceTraining::progress, this, [this](int done, int of) {
        pbAdapt->setRange(0, of);
        pbAdapt->setValue(done);
    });
    connect(&training_, &VoiceTraining::adapted, this, [this](bool, const QString& message) {
        pbAdapt->hide();
        // Sentences that could not be used are asked for again.
        current_ = -1;
        moveOn();
        showSentence();
        if (current_ >= 0) startListening();
        setStatus(message);
        updateButtons();
    });
    watchdog_.setInterval(500);
    connect(&watchdog_, &QTimer::timeout, this, &TrainingWindow::watch);

    // What the user reads out must not be taken for commands.
    training_.pauseAgent(true);
    current_ = -1;
    moveOn();
    showSentence();
    if (training_.isAdapting()) {
        pbAdapt->show();
        setStatus(QStringLiteral("Vorlix is learning your voice; it goes on when this window is closed."));
    } else if (current_ >= 0) {
        startListening();
    } else {
        setStatus(QStringLiteral("All sentences are recorded. Press Train Now to let Vorlix learn your voice."));
    }
    updateButtons();
}

TrainingWindow::~TrainingWindow() {
    stopListening();
    training_.pauseAgent(false);
}

void TrainingWindow::closeEvent(QCloseEvent* event) {
    stopListening();
    QDialog::closeEvent(event);
}

void TrainingWindow::done(int result) {
    stopListening();
    QDialog::done(result);
}

void TrainingWindow::startListening() {
    stopListening();
    audio_ = std::make_unique<speech::AudioInput>([this](const int16_t* s, std::size_t n) { hear(s, n); });
    if (!audio_->open(deviceName_)) {
        audio_.reset();
        setStatus(QStringLiteral("No input device can be opened: check the microphone and the Input Device on "
                                 "the Voice Setup page."));
        return;
    }
    inSpeech_ = false;
    loudBlocks_ = quietBlocks_ = 0;
    take_.clear();
    sinceAudio_.start();
    sinceSpeech_.start();
    silentWarned_ = false;
    watchdog_.start();
    setStatus(QStringLiteral("Listening..."));
}

void TrainingWindow::stopListening() {
    watchdog_.stop();
    audio_.reset();
    inSpeech_ = false;
    take_.clear();
    if (pbLevel) pbLevel->setValue(0);
}

void TrainingWindow::watch() {
    if (!audio_) return;
    // An unplugged microphone either stops sending, or the sound server moves its stream to another
    // device; both count as gone.
    const bool gone =
        !audio_->isOpen() || !speech::AudioInput::deviceDescriptions().contains(audio_->deviceDescription());
    if (gone || sinceAudio_.elapsed() > NoAudioMs) {
        // Unplugged, or the sound server went away: what was half said is dropped, and the device is
        // tried again until sound comes back.
        const bool wasTaking = inSpeech_;
        audio_->close();
        if (gone) unplugged_ = true;
        // Back only when the device itself is back, not a default that stands in for it.
        const QStringList devices = speech::AudioInput::deviceDescriptions();
        const bool back =
            deviceName_.isEmpty() ? !devices.isEmpty() : devices.contains(deviceName_, Qt::CaseInsensitive);
        if (back && audio_->open(deviceName_)) unplugged_ = false;
        inSpeech_ = false;
        take_.clear();
        sinceAudio_.start();
        setStatus(QStringLiteral("No sound arrives from the microphone: check that it is plugged in.%1")
                      .arg(wasTaking ? QStringLiteral(" Say the sentence again when it is back.") : QString()));
        return;
    }
    if (!inSpeech_ && !silentWarned_ && sinceSpeech_.elapsed() > NothingHeardMs) {
        silentWarned_ = true;
        setStatus(QStringLiteral("Nothing is heard. Speak up, or check the Input Device on the Voice Setup page."));
    }
}

void TrainingWindow::hear(const int16_t* samples, std::size_t count) {
    if (count == 0) return;
    if (unplugged_) return;
    if (lblStatus->text().startsWith(QLatin1String("No sound"))) setStatus(QStringLiteral("Listening..."));
    sinceAudio_.start();
    double loudest = 0;
    for (std::size_t at = 0; at < count; at += BlockSamples) {
        const std::size_t n = std::min(BlockSamples, count - at);
        const int16_t* block = samples + at;
        const double rms = rmsOf(block, n);
        loudest = std::max(loudest, rms);
        if (!inSpeech_) {
            floor_ = floor_ <= 0 || rms < floor_ ? rms : floor_ + (rms - floor_) * 0.002;
            preroll_.insert(preroll_.end(), block, block + n);
            if (preroll_.size() > PrerollSamples)
                preroll_.erase(preroll_.begin(), preroll_.end() - std::ptrdiff_t(PrerollSamples));
            loudBlocks_ = rms > std::max(4 * floor_, MinimumSpeechLevel) ? loudBlocks_ + 1 : 0;
            if (loudBlocks_ >= StartBlocks) {
                inSpeech_ = true;
                quietBlocks_ = 0;
                take_ = preroll_;
                setStatus(QStringLiteral("Recording..."));
            }
            continue;
        }
        take_.insert(take_.end(), block, block + n);
        quietBlocks_ = rms < std::max(2 * floor_, MinimumPauseLevel) ? quietBlocks_ + 1 : 0;
        if (quietBlocks_ >= EndBlocks) {
            endTake();
        } else if (take_.size() > MaximumTakeSamples) {
            // Steady noise, not a sentence: it becomes the background.
            floor_ = rmsOf(take_.data() + take_.size() - SampleRate, SampleRate);
            inSpeech_ = false;
            take_.clear();
            preroll_.clear();
            sinceSpeech_.start();
            setStatus(QStringLiteral("That was too long for the sentence, or it was noise. Say the sentence again, "
                                     "somewhere quieter if you can."));
        }
        if (!audio_) return; // the take ended the listening
    }
    const double db = loudest > 0 ? 20 * std::log10(loudest / 32768) : -100;
    pbLevel->setValue(std::clamp(int((db + 60) * 100 / 60), 0, 100));
}

void TrainingWindow::endTake() {
    inSpeech_ = false;
    sinceSpeech_.start();
    silentWarned_ = false;
    // The pause that ended the sentence is not kept, beyond a short tail.
    const std::size_t tail = std::size_t(EndBlocks) * BlockSamples - SampleRate / 4;
    std::vector<int16_t> take = std::move(take_);
    take_.clear();
    preroll_.clear();
    if (take.size() > tail) take.resize(take.size() - tail);
    if (take.size() < MinimumTakeSamples + PrerollSamples) {
        setStatus(QStringLiteral("Listening..."));
        return;
    }
    QString why;
    QDir().mkpath(training_.profile().recordingsFolder());
    const QByteArray bytes(reinterpret_cast<const char*>(take.data()), qsizetype(take.size() * 2));
    if (!speech::writeWav(training_.profile().recordingFile(current_), bytes, &why)) {
        stopListening();
        setStatus(QStringLiteral("The recording could not be saved: %1.").arg(why));
        updateButtons();
        return;
    }
    lastTaken_ = current_;
    skipped_.remove(current_);
    emit recorded(current_);
    moveOn();
    showSentence();
    if (current_ < 0) {
        stopListening();
        setStatus(QStringLiteral("All sentences are recorded. Press Train Now to let Vorlix learn your voice."));
    } else {
        setStatus(QStringLiteral("Got it. Now the next sentence."));
    }
    updateButtons();
}

void TrainingWindow::moveOn() {
    const int total = int(speech::trainingSentences().size());
    for (int step = 1; step <= total; ++step) {
        const int i = (std::max(current_, -1) + step + total) % total;
        if (!training_.profile().hasRecording(i) && !skipped_.contains(i)) {
            current_ = i;
            return;
        }
    }
    current_ = -1;
}

void TrainingWindow::showSentence() {
    const int total = int(speech::trainingSentences().size());
    const int recorded = int(training_.recordedSentences().size());
    if (current_ < 0) {
        lblStep->setText(QStringLiteral("%1 of %2 sentences recorded").arg(recorded).arg(total));
        lblSentence->clear();
        return;
    }
    lblStep->setText(QStringLiteral("Sentence %1 of %2 (%3 recorded)").arg(current_ + 1).arg(total).arg(recorded));
    lblSentence->setText(speech::trainingSentences()[current_]);
}

void TrainingWindow::updateButtons() {
    const bool adapting = training_.isAdapting();
    cmdSayAgain->setEnabled(!adapting && (lastTaken_ >= 0 || current_ >= 0));
    cmdSkip->setEnabled(!adapting && current_ >= 0);
    cmdTrain->setEnabled(!adapting && training_.recordedSentences().size() >= speech::VoiceTrainer::MinimumSentences);
}

void TrainingWindow::setStatus(const QString& text) {
    lblStatus->setText(text);
}

void TrainingWindow::cmdSayAgain_Click() {
    if (lastTaken_ >= 0) current_ = lastTaken_;
    if (current_ < 0) return;
    showSentence();
    startListening();
    updateButtons();
}

void TrainingWindow::cmdSkip_Click() {
    if (current_ < 0) return;
    skipped_ << current_;
    moveOn();
    showSentence();
    if (current_ < 0) {
        stopListening();
        setStatus(QStringLiteral("No more sentences. Press Train Now to let Vorlix learn your voice."));
    } else if (!audio_) {
        startListening();
    } else {
        inSpeech_ = false;
        take_.clear();
        setStatus(QStringLiteral("Listening..."));
    }
    updateButtons();
}

void TrainingWindow::cmdTrain_Click() {
    stopListening();
    QString why;
    if (!training_.adapt(&why)) {
        setStatus(why);
        return;
    }
    pbAdapt->setRange(0, speech::VoiceTrainer::Steps);
    pbAdapt->setValue(0);
    pbAdapt->show();
    setStatus(QStringLiteral("Vorlix is learning your voice; it goes on when this window is closed."));
    updateButtons();
}
