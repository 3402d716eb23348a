// error_box_qt.cpp - the driver's error box on Qt.
#include "error_box_qt.h"

#include <QApplication>
#include <QMessageBox>

void ShowModalErrorBox(std::string_view text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("F E H L E R"),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}
