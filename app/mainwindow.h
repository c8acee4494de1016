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
    // A window made elsewhere (a site's), known by name from now on.
    void adopt(const QString &name, ModuleWindow *window);
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
    // "Site…" (Ctrl+O) asks for a .kvsite file; "Recent sites" lists those opened before. The
    // site's window takes Main's place, and the file goes first in the recent sites.
    void openSite(const QString &path);
    void askSite();
    // Who makes a site's window (the program's, wired as every window is); null: none made.
    void setSiteOpener(std::function<ModuleWindow *(const QString &path)> open) { m_openSite = std::move(open); }

    QLabel *Label1;
    ChoiceBox *Combo_Model;
    QVector<QPushButton *> Command1;

private:
    void addSiteMenu();
    WindowRegistry *m_registry;
    std::function<ModuleWindow *(const QString &path)> m_openSite;
};

extern const QString kMainCaption;
