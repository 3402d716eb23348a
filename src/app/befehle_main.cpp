// befehle_main.cpp - the main window's start-up, placement, closing and handlers. Each handler
// reads its controls and calls one operator command; the commands hold the sequences.
#include "befehle_main.h"

#include "radio_group.h"
#include "status_strip.h"

// The generated form names its widget parameter after the form, as the global MainForm is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#include "ui_befehle_main.h"
#pragma GCC diagnostic pop

#include "commands/commands.h"
#include "lpt/lpt.h"
#include "tools/tools.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

TMainForm *MainForm = nullptr;

namespace {

bool terminateRequested = false;
// Set when the program lost the focus to another one: the activation that brings it back is
// the desktop's, not one of the window's own (after a box or at the first showing).
bool returningFromAnotherProgram = false;

// Upper-cases the letters a to z only.
QString UpperAscii(QString text) {
  for (QChar &c : text) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
      c = QChar(c.unicode() - 'a' + 'A');
    }
  }
  return text;
}

std::int32_t Field(const QLineEdit *edit) {
  return commands::ConvertField(edit->text().toStdString());
}

// Labels take the width of their caption, as the form's labels were drawn to do.
void AutoSizeLabels(QWidget &form) {
  for (QLabel *label : form.findChildren<QLabel *>()) {
    if (label->objectName() != QLatin1String("StatusStrip")) {
      label->adjustSize();
    }
  }
}

// The fields a reference run reads, in the order it reads them.
std::function<commands::RefFields()> RefFieldsOf(const TMainForm &form) {
  return [&form] {
    return commands::RefFields{Field(form.StartFreqEdit), Field(form.RampenLaengeEdit),
                               Field(form.RefFreqEdit), Field(form.RefOffsetEdit)};
  };
}

} // namespace

void RequestTerminate() {
  terminateRequested = true;
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                            Qt::QueuedConnection);
}

bool TerminateRequested() {
  return terminateRequested;
}

QPoint CentredOrigin(QSize screen, QSize window) {
  const int top = (screen.height() - window.height()) / 2;
  const int left = (screen.width() - window.width()) / 2;
  return {left, top};
}

TMainForm::TMainForm(QWidget *owner) : QWidget(owner) {
  Ui::MainForm form;
  form.setupUi(this);
  Panel1 = form.Panel1;
  SchnittstelleRadioGroup = form.SchnittstelleRadioGroup;
  SchrittbetriebRadioGroup = form.SchrittbetriebRadioGroup;
  RuhestromRadioGroup = form.RuhestromRadioGroup;
  AusgangRadioGroup = form.AusgangRadioGroup;
  Panel2 = form.Panel2;
  GeschwindigkeitGroupBox = form.GeschwindigkeitGroupBox;
  StartFreqLabel1 = form.StartFreqLabel1;
  ArbeitsFreqLabel1 = form.ArbeitsFreqLabel1;
  RampenLaengeLabel1 = form.RampenLaengeLabel1;
  StartFreqEdit = form.StartFreqEdit;
  ArbeitsFreqEdit = form.ArbeitsFreqEdit;
  RampenLaengeEdit = form.RampenLaengeEdit;
  StartFreqLabel2 = form.StartFreqLabel2;
  ArbeitsFreqLabel2 = form.ArbeitsFreqLabel2;
  RampenLaengeLabel2 = form.RampenLaengeLabel2;
  Panel3 = form.Panel3;
  xAchseLabel1 = form.xAchseLabel1;
  yAchseLabel1 = form.yAchseLabel1;
  zAchseLabel1 = form.zAchseLabel1;
  xAchseEdit = form.xAchseEdit;
  yAchseEdit = form.yAchseEdit;
  zAchseEdit = form.zAchseEdit;
  xAchseLabel2 = form.xAchseLabel2;
  yAchseLabel2 = form.yAchseLabel2;
  zAchseLabel2 = form.zAchseLabel2;
  E1CheckBox = form.E1CheckBox;
  VektorfahrtFahrtButton = form.VektorfahrtFahrtButton;
  RefFreqLabel1 = form.RefFreqLabel1;
  RefFreqEdit = form.RefFreqEdit;
  RefFreqLabel2 = form.RefFreqLabel2;
  RefOffsetLabel1 = form.RefOffsetLabel1;
  RefOffsetEdit = form.RefOffsetEdit;
  RefOffsetLabel2 = form.RefOffsetLabel2;
  ReferenzfahrtButton = form.ReferenzfahrtButton;
  xRefButton = form.xRefButton;
  yRefButton = form.yRefButton;
  zRefButton = form.zRefButton;
  RefEingangLabel = form.RefEingangLabel;
  RefEingangSpeedButton = form.RefEingangSpeedButton;
  SchliessenButton = form.SchliessenButton;
  LPTAdrEdit = form.LPTAdrEdit;

  AutoSizeLabels(*this);
  for (RadioGroup *group : {SchnittstelleRadioGroup, SchrittbetriebRadioGroup, RuhestromRadioGroup,
                            AusgangRadioGroup}) {
    group->bindItems();
  }
  connect(SchnittstelleRadioGroup, &RadioGroup::selectionChanged, this,
          [this] { SchnittstelleRadioGroupOnClick(SchnittstelleRadioGroup); });
  connect(SchrittbetriebRadioGroup, &RadioGroup::selectionChanged, this,
          [this] { SchrittbetriebRadioGroupClick(SchrittbetriebRadioGroup); });
  connect(RuhestromRadioGroup, &RadioGroup::selectionChanged, this,
          [this] { RuhestromRadioGroupClick(RuhestromRadioGroup); });
  connect(AusgangRadioGroup, &RadioGroup::selectionChanged, this,
          [this] { AusgangRadioGroupClick(AusgangRadioGroup); });
  connect(VektorfahrtFahrtButton, &QPushButton::clicked, this,
          [this] { VektorfahrtFahrtButtonClick(VektorfahrtFahrtButton); });
  connect(ReferenzfahrtButton, &QPushButton::clicked, this,
          [this] { ReferenzfahrtButtonClick(ReferenzfahrtButton); });
  connect(xRefButton, &QPushButton::clicked, this, [this] { xRefButtonClick(xRefButton); });
  connect(yRefButton, &QPushButton::clicked, this, [this] { yRefButtonClick(yRefButton); });
  connect(zRefButton, &QPushButton::clicked, this, [this] { zRefButtonClick(zRefButton); });
  // clicked, not toggled: the handler runs after each flip by the operator, never for
  // a state set in code.
  connect(RefEingangSpeedButton, &QToolButton::clicked, this,
          [this] { RefEingangSpeedButtonClick(RefEingangSpeedButton); });
  connect(SchliessenButton, &QPushButton::clicked, this,
          [this] { SchliessenButtonClick(SchliessenButton); });
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState state) {
    returningFromAnotherProgram = returningFromAnotherProgram || state != Qt::ApplicationActive;
  });

  OnCreate(this);
}

void TMainForm::OnCreate(QObject *Sender) {
  const tools::SystemTime projectTime = {2009, 10, 6, 10, 8, 10, 0, 0};
  const QStringList parameters = QCoreApplication::arguments();
  for (const QString &parameter : parameters) {
    if (UpperAscii(parameter) == QLatin1String("/TIME")) {
      tools::StampFileTimes(projectTime);
    }
  }
  setWindowTitle(QStringLiteral("KDX620/960 Befehle  (10.10.09)"));
  if (!lpt::LptOpen()) {
    RequestTerminate();
    return;
  }
  if (!lpt::TimerOpen()) {
    lpt::LptClose(); // the port was opened: give it back
    RequestTerminate();
    return;
  }
  LPTAdrEdit->setText(QStringLiteral("0xdf88"));
  SchnittstelleRadioGroup->setItemIndex(2); // raises SchnittstelleRadioGroupOnClick
  SchnittstelleRadioGroupOnClick(Sender);
  ApplySchrittbetrieb();
  AusgangRadioGroupClick(Sender);
  StartFreqEdit->setText(QStringLiteral("200"));
  ArbeitsFreqEdit->setText(QStringLiteral("600"));
  RampenLaengeEdit->setText(QStringLiteral("100"));
  xAchseEdit->setText(QStringLiteral("1000"));
  yAchseEdit->setText(QStringLiteral("0"));
  zAchseEdit->setText(QStringLiteral("0"));
  RefFreqEdit->setText(QStringLiteral("500"));
  RefOffsetEdit->setText(QStringLiteral("25"));
  RefEingangSpeedButton->setChecked(false);
  RefEingangSpeedButtonClick(Sender);
  ShowStatus(*this);
}

void TMainForm::OnActivate(QObject *) {
  const QSize screen = QGuiApplication::primaryScreen()->size();
  const QPoint origin = CentredOrigin(screen, frameGeometry().size());
  move(x(), origin.y()); // top first, then left
  move(origin.x(), origin.y());
}

void TMainForm::OnClose(QObject *, TCloseAction &) {
  lpt::LptClose();
}

bool TMainForm::event(QEvent *event) {
  if (event->type() == QEvent::WindowActivate) {
    if (!returningFromAnotherProgram) {
      OnActivate(this);
    }
    returningFromAnotherProgram = false;
  }
  return QWidget::event(event);
}

void TMainForm::closeEvent(QCloseEvent *event) {
  TCloseAction action = TCloseAction::caFree;
  OnClose(this, action);
  event->accept();
}

void TMainForm::SchnittstelleRadioGroupOnClick(QObject *) {
  commands::SelectPort(SchnittstelleRadioGroup->itemIndex(), LPTAdrEdit->text().toStdString());
}

void TMainForm::SchrittbetriebRadioGroupClick(QObject *) {
  ApplySchrittbetrieb();
}

void TMainForm::RuhestromRadioGroupClick(QObject *) {
  ApplySchrittbetrieb();
}

void TMainForm::ApplySchrittbetrieb() {
  commands::ApplySchrittbetrieb(SchrittbetriebRadioGroup->itemIndex(),
                                RuhestromRadioGroup->itemIndex());
}

void TMainForm::AusgangRadioGroupClick(QObject *) {
  const int level = AusgangRadioGroup->itemIndex();
  commands::SetOutputPin(E1CheckBox->isChecked(), level);
}

void TMainForm::VektorfahrtFahrtButtonClick(QObject *) {
  commands::Vektorfahrt(E1CheckBox->isChecked(), [this] {
    return commands::MoveFields{Field(StartFreqEdit),    Field(ArbeitsFreqEdit),
                                Field(RampenLaengeEdit), Field(xAchseEdit),
                                Field(yAchseEdit),       Field(zAchseEdit)};
  });
  ShowStatus(*this);
}

void TMainForm::ReferenzfahrtButtonClick(QObject *) {
  commands::ReferenzfahrtAll(E1CheckBox->isChecked(), RefFieldsOf(*this)); // z, x, then y
  ShowStatus(*this);
}

void TMainForm::xRefButtonClick(QObject *) {
  RefFahrtAxis('x');
}

void TMainForm::yRefButtonClick(QObject *) {
  RefFahrtAxis('y');
}

void TMainForm::zRefButtonClick(QObject *) {
  RefFahrtAxis('Z');
}

void TMainForm::RefFahrtAxis(char axis) {
  commands::RefFahrtAxis(E1CheckBox->isChecked(), axis, RefFieldsOf(*this));
  ShowStatus(*this);
}

void TMainForm::RefEingangSpeedButtonClick(QObject *) {
  commands::SetRefPolarity(RefEingangSpeedButton->isChecked());
}

void TMainForm::SchliessenButtonClick(QObject *) {
  close();
}
