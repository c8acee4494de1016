// Main: the model list and the two buttons that open a model's test window or the parameter
// window. Every child window exists once at a time and shows Main again when it closes.
#pragma once

#include "widgets.h"

#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVector>
#include <QWidget>

#include <functional>

class ModuleWindow;

// Opens child windows by name: the one already open is raised, a closed one is created and
// loaded afresh.
class WindowRegistry
{
public:
    using Factory = std::function<ModuleWindow *()>;
    void add(const QString &name, Factory factory);
    ModuleWindow *open(const QString &name);
    ModuleWindow *window(const QString &name) const;
    // Every window it opened that is still there.
    QList<ModuleWindow *> windows() const;

private:
    QHash<QString, Factory> m_factories;
    QHash<QString, QPointer<ModuleWindow>> m_windows;
};

class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(WindowRegistry *registry, QWidget *parent = nullptr);

    void Form_Load();
    void Command1_Click(int index);
    // Right-click menu and Ctrl+B: every module on the bus, at every setting.
    void openBusFinder();

    QLabel *Label1;
    ChoiceBox *Combo_Model;
    QVector<QPushButton *> Command1;

private:
    WindowRegistry *m_registry;
};

extern const QString kMainCaption;
