// Message boxes and blocking pauses go through these two functions, so that tests can record
// what the user would have been told and count the pauses instead of waiting them out.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// A modal box titled "Prompt" with an OK button and no icon.
void Prompt(QWidget *parent, const QString &text);
// A modal box titled "Prompt" with Yes and No buttons; true for Yes.
bool Ask(QWidget *parent, const QString &text);
// Blocks the user-interface thread for ms milliseconds; nothing is handled meanwhile.
void Pause(int ms);

using PromptSink = std::function<void(const QString &title, const QString &text)>;
using PauseSink = std::function<void(int ms)>;
void setPromptSink(PromptSink sink); // an empty sink restores the real message box
void setPauseSink(PauseSink sink);   // an empty sink restores the real pause
using AskSink = std::function<bool(const QString &text)>;
void setAskSink(AskSink sink);       // gives the answer; an empty sink restores the real box

// Twips (1440 to the inch) as pixels at the screen's logical resolution.
int twips(int value);
