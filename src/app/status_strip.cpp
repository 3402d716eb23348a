// status_strip.cpp - backend and priority, shown where the operator sees them.
#include "status_strip.h"

#include "platform/port_io.h"
#include "platform/thread.h"

#include <QLabel>
#include <QWidget>

namespace {

QLabel *StatusLine(QWidget &form) {
  return form.findChild<QLabel *>(QStringLiteral("StatusStrip"));
}

// A thread that only asks for time-critical priority, so the line can say what moves get.
class PriorityProbe final : public platform::Thread {
protected:
  void Execute() override {}
};

QString PriorityText() {
  if (!platform::realTimeState().requested) {
    PriorityProbe probe;
    probe.setPriority(platform::ThreadPriority::timeCritical);
    probe.resume();
    probe.join();
  }
  const platform::RealTimeState state = platform::realTimeState();
  QString text = state.granted ? QStringLiteral("moves at real-time priority (SCHED_FIFO)")
                               : QStringLiteral("moves at normal priority");
  if (!state.note.empty()) {
    text += QStringLiteral("\n") + QString::fromStdString(state.note);
  }
  return text;
}

} // namespace

void ShowStatus(QWidget &form) {
  QLabel *line = StatusLine(form);
  if (!line) {
    return;
  }
  const platform::PortBackend *backend = platform::portBackend();
  const QString port = backend ? QString::fromUtf8(backend->name().data(),
                                                   static_cast<qsizetype>(backend->name().size()))
                               : QStringLiteral("none");
  line->setText(QStringLiteral("port backend: %1  |  %2").arg(port, PriorityText()));
  line->setToolTip(line->text());
}
