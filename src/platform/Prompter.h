#pragma once

#include <QString>

class QWidget;

enum class EAnswer { Yes, No, Cancel };

// Message boxes of the program; every one sounds the information beep first.
class IPrompter {
public:
  virtual ~IPrompter() = default;
  virtual void Error(QWidget* Parent, const QString& Text) = 0;
  virtual void Information(QWidget* Parent, const QString& Text) = 0;
  // Information that needs no answer and must not stop what the person is
  // doing: the box stays up beside the window, which goes on taking the keys.
  virtual void Notice(QWidget* Parent, const QString& Text) = 0;
  // HelpContext > 0 adds a Help button that opens that topic.
  virtual void Warning(QWidget* Parent, const QString& Text, int HelpContext = 0) = 0;
  // Yes, No and Cancel.
  virtual EAnswer Question(QWidget* Parent, const QString& Text) = 0;
  // Yes and No; true for Yes.
  virtual bool Confirm(QWidget* Parent, const QString& Text) = 0;
  // The information beep alone, for a key that cannot be acted on.
  virtual void Beep();
};

IPrompter& Prompter();
// Installs another prompter (tests); nullptr restores the real one.
void SetPrompter(IPrompter* Replacement);

// The title every box and the task list show.
QString ApplicationTitle();
void SetApplicationTitle(const QString& Title);
