// A Wayland window of its own process (run with QT_QPA_PLATFORM=wayland) that prints what reaches it,
// one a line: the text of a key press, "[Name]" for a key that types nothing (or a control character),
// "button N" for a mouse button press (1 left, 2 right, 4 middle). "ready" once it has the focus.
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QWidget>

#include <cstdio>

namespace {

class Probe : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        if (!text.isEmpty() && QChar::isPrint(text.toUcs4().front())) {
            std::printf("%s\n", text.toUtf8().constData());
        } else {
            const int modifiers[] = {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Alt, Qt::Key_Meta, Qt::Key_AltGr};
            QString name = QKeySequence(event->key()).toString();
            for (int key : modifiers)
                if (event->key() == key) name = QKeySequence(key).toString(QKeySequence::PortableText);
            std::printf("[%s]\n", name.toUtf8().constData());
        }
    }
    void mousePressEvent(QMouseEvent* event) override { std::printf("button %d\n", int(event->button())); }
    void focusInEvent(QFocusEvent*) override {
        if (!ready_) std::printf("ready\n");
        ready_ = true;
    }

private:
    bool ready_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Probe probe;
    probe.setWindowTitle("vorlix key probe");
    probe.setFocusPolicy(Qt::StrongFocus);
    probe.resize(640, 400);
    probe.show();
    return app.exec();
}
