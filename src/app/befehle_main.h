// befehle_main.h - the main window: its controls, laid out by befehle_main.ui, and the
// handlers that read them and call the operator's commands.
#pragma once

#include <QWidget>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class RadioGroup;

// What closing the window does; it is left as it comes, which closes and ends the program.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TMainForm : public QWidget {
  Q_OBJECT

public:
  explicit TMainForm(QWidget *owner = nullptr);

  QFrame *Panel1;
  RadioGroup *SchnittstelleRadioGroup;
  RadioGroup *SchrittbetriebRadioGroup;
  RadioGroup *RuhestromRadioGroup;
  RadioGroup *AusgangRadioGroup;
  QFrame *Panel2;
  QGroupBox *GeschwindigkeitGroupBox;
  QLabel *StartFreqLabel1;
  QLabel *ArbeitsFreqLabel1;
  QLabel *RampenLaengeLabel1;
  QLineEdit *StartFreqEdit;
  QLineEdit *ArbeitsFreqEdit;
  QLineEdit *RampenLaengeEdit;
  QLabel *StartFreqLabel2;
  QLabel *ArbeitsFreqLabel2;
  QLabel *RampenLaengeLabel2;
  QFrame *Panel3;
  QLabel *xAchseLabel1;
  QLabel *yAchseLabel1;
  QLabel *zAchseLabel1;
  QLineEdit *xAchseEdit;
  QLineEdit *yAchseEdit;
  QLineEdit *zAchseEdit;
  QLabel *xAchseLabel2;
  QLabel *yAchseLabel2;
  QLabel *zAchseLabel2;
  QCheckBox *E1CheckBox;
  QPushButton *VektorfahrtFahrtButton;
  QLabel *RefFreqLabel1;
  QLineEdit *RefFreqEdit;
  QLabel *RefFreqLabel2;
  QLabel *RefOffsetLabel1;
  QLineEdit *RefOffsetEdit;
  QLabel *RefOffsetLabel2;
  QPushButton *ReferenzfahrtButton;
  QPushButton *xRefButton;
  QPushButton *yRefButton;
  QPushButton *zRefButton;
  QLabel *RefEingangLabel;
  QToolButton *RefEingangSpeedButton;
  QPushButton *SchliessenButton;
  QLineEdit *LPTAdrEdit;

  void SchnittstelleRadioGroupOnClick(QObject *Sender);
  void SchrittbetriebRadioGroupClick(QObject *Sender);
  void RuhestromRadioGroupClick(QObject *Sender);
  void AusgangRadioGroupClick(QObject *Sender);
  void VektorfahrtFahrtButtonClick(QObject *Sender);
  void ReferenzfahrtButtonClick(QObject *Sender);
  void xRefButtonClick(QObject *Sender);
  void yRefButtonClick(QObject *Sender);
  void zRefButtonClick(QObject *Sender);
  void RefEingangSpeedButtonClick(QObject *Sender);
  void SchliessenButtonClick(QObject *Sender);

  void OnCreate(QObject *Sender);
  void OnActivate(QObject *Sender);
  void OnClose(QObject *Sender, TCloseAction &Action);

protected:
  bool event(QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void ApplySchrittbetrieb();
  void RefFahrtAxis(char axis);
};

// The one main window, once the entry has created it.
extern TMainForm *MainForm;

// Asks the program to end as soon as its message loop runs; true once asked.
void RequestTerminate();
bool TerminateRequested();

// Where a window of `window` size stands centred on a screen of `screen` size: top, then
// left, each halved toward zero, so a window larger than the screen gets a negative origin.
QPoint CentredOrigin(QSize screen, QSize window);
