#include "mainwindow.h"

#include "models.h"
#include "modulewindow.h"
#include "prompt.h"
#include "settingsfiles.h"
#include "sitefile.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QIcon>

const QString kMainCaption = QStringLiteral("KORVANT Debugging Software_V1.42B");

void WindowRegistry::add(const QString &name, Factory factory)
{
    m_factories.insert(name, std::move(factory));
}

ModuleWindow *WindowRegistry::window(const QString &name) const
{
    return m_windows.value(name).data();
}

void WindowRegistry::adopt(const QString &name, ModuleWindow *window)
{
    m_windows.insert(name, window);
}

QList<ModuleWindow *> WindowRegistry::windows() const
{
    QList<ModuleWindow *> open;
    for (const QPointer<ModuleWindow> &w : m_windows)
        if (w)
            open << w.data();
    return open;
}

ModuleWindow *WindowRegistry::open(const QString &name)
{
    ModuleWindow *w = window(name);
    if (!w) {
        const auto factory = m_factories.value(name);
        w = factory ? factory() : nullptr;
        if (!w)
            return nullptr;
        m_windows.insert(name, w);
    }
    showRaised(w);
    return w;
}

MainWindow::MainWindow(WindowRegistry *registry, QWidget *parent) : QWidget(parent), m_registry(registry)
{
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(kMainCaption);
    setFixedSize(twips(6240), twips(4455));
    Label1 = placed(new QLabel(QStringLiteral("Model Select"), this), QStringLiteral("Label1"), 720, 1080, 1815, 255);
    Combo_Model = new ChoiceBox(QStringLiteral("Combo_Model"), this);
    Combo_Model->setGeometry(twips(720), twips(1440), twips(2175), twips(300));
    const QStringList captions = {QStringLiteral("Function Testing"), QStringLiteral("Parameter Setting")};
    const int tops[] = {1080, 2640};
    for (int i = 0; i < 2; ++i) {
        auto *button = placed(new QPushButton(captions[i], this), QStringLiteral("Command1_%1").arg(i), 3600, tops[i], 1935, 855);
        connect(button, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        Command1.append(button);
    }
    Combo_Model->setEditText(QStringLiteral("Combo_Model"));

    auto *finder = named(new QAction(QStringLiteral("Bus Finder…"), this), QStringLiteral("Action_BusFinder"));
    finder->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(finder, &QAction::triggered, this, &MainWindow::openBusFinder);
    addAction(finder);
    addSiteMenu();
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::addSiteMenu()
{
    auto *site = named(new QAction(QStringLiteral("Site…"), this), QStringLiteral("Action_Site"));
    site->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(site, &QAction::triggered, this, &MainWindow::askSite);
    addAction(site);
    auto *recent = named(new QMenu(QStringLiteral("Recent sites"), this), QStringLiteral("Menu_RecentSites"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] {
        recent->clear();
        for (const QString &path : recentSites(recentSitesFile()))
            connect(recent->addAction(path), &QAction::triggered, this, [this, path] { openSite(path); });
    });
    addAction(recent->menuAction());
}

void MainWindow::askSite()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Site"), QString(), QStringLiteral("Sites (*.kvsite)"));
    if (!path.isEmpty())
        openSite(path);
}

void MainWindow::openSite(const QString &path)
{
    if (!m_openSite)
        return;
    hide();
    if (!m_openSite(path)) {
        show();
        return;
    }
    addRecentSite(recentSitesFile(), QFileInfo(path).absoluteFilePath());
}

void MainWindow::openBusFinder()
{
    hide();
    if (!m_registry->open(QStringLiteral("BusFinder")))
        show();
}

void MainWindow::Form_Load()
{
    setProgramIcon(this);
    Combo_Model->clear();
    Combo_Model->addItems(modelNames());
    Combo_Model->setCurrentIndex(-1);
    Combo_Model->setEditText(QStringLiteral("Combo_Model"));
}

void MainWindow::Command1_Click(int index)
{
    if (index != 0) {
        hide();
        m_registry->open(QStringLiteral("SetFrm"));
        return;
    }
    // Only the exact text of a list entry names a model.
    const QString text = Combo_Model->currentText();
    if (Combo_Model->entryIndex() < 0 || !findModel(text)) {
        Prompt(this, QStringLiteral("Please select module model！"));
        return;
    }
    hide();
    if (!m_registry->open(text))
        show();
}
