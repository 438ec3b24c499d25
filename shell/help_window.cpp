#include "help_window.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMainWindow>
#include <QRegularExpression>
#include <QSplitter>
#include <QUrl>
#include <array>

#include "command_table.h"
#include "dialog_placement.h"
#include "program_folders.h"
#include "qt_text.h"

namespace {

constexpr std::array<TManualChapter, 8> kChapters{{
    {"index.html", "目录"},
    {"start.html", "入门"},
    {"keys.html", "快捷键"},
    {"build.html", "编译与错误信息"},
    {"debug.html", "调试"},
    {"trainer.html", "实验箱与模拟器"},
    {"osc.html", "示波器"},
    {"examples.html", "示例程序"},
}};

// The panel or window that F1 explains, by object name; the first match from the focus
// widget upwards wins, so a field inside a dialog finds the dialog's chapter.
struct TContextChapter {
  const char* objectName;
  const char* chapter;
};
constexpr std::array<TContextChapter, 22> kContextChapters{{
    {"dlgOscBox", "osc.html"},
    {"dlgCommBox", "trainer.html#connect"},
    {"dlgConfigBox", "build.html#mode"},
    {"dlgFind", "start.html#edit"},
    {"dlgReplace", "start.html#edit"},
    {"dlgAboutBox", "index.html"},
    {"lbMessage", "build.html#messages"},
    {"sgRegs", "debug.html#registers"},
    {"sgMemory", "debug.html#memory"},
    {"sgWatch", "debug.html#watches"},
    {"sgBreakpoint", "debug.html#breakpoints"},
    {"sgStack", "debug.html#stack"},
    {"shtIO", "debug.html#io"},
    {"shtUserScreen", "debug.html#screen"},
    {"pnlDisassembly", "debug.html#disassembly"},
    {"tvFile", "start.html#window"},
    {"pnlFiles", "start.html#window"},
    {"pnlRegisters", "debug.html#registers"},
    {"pnlCompile", "build.html#messages"},
    {"pnlStack", "debug.html#stack"},
    {"mdiArea", "start.html#edit"},
    {"dlgInputBox", "debug.html"},
}};

const QString kResourceRoot = QStringLiteral("qrc:/help/");

QString FileOf(const QString& chapter) { return chapter.section('#', 0, 0); }

QString HtmlEscaped(std::string_view text) { return Text(text).toHtmlEscaped(); }

// The caption as a menu shows it: "查看帮助(&H)..." -> "查看帮助..."; "&Fixedsys" -> "Fixedsys".
QString MenuCaption(std::string_view caption) {
  static const QRegularExpression accessKey(QStringLiteral("\\(&.\\)"));
  return Text(caption).remove(accessKey).remove('&');
}

void AddCommandRow(QString& html, const TCommandSpec& spec, const QString& menu) {
  html += "<tr><td>";
  if (!spec.icon.empty()) {
    html += QStringLiteral("<img src=\"qrc:/icons/%1.svg\" width=\"16\" height=\"16\"> ")
                .arg(Text(spec.icon));
  }
  html += MenuCaption(spec.caption).toHtmlEscaped() + "</td><td>" + menu.toHtmlEscaped() +
          "</td><td><b>" + HtmlEscaped(spec.shortcut) + "</b></td><td>" + HtmlEscaped(spec.hint) +
          "</td></tr>\n";
}

void AddMenuRows(QString& html, const TMenuSpec& menu, const QString& menuCaption) {
  for (std::string_view entry : menu.entries) {
    if (entry == kFontMenu) {
      AddMenuRows(html, FontMenu(), menuCaption + " → " + MenuCaption(FontMenu().caption));
    } else if (entry == kSkinMenu) {
      AddMenuRows(html, SkinMenu(), menuCaption + " → " + MenuCaption(SkinMenu().caption));
    } else if (const TCommandSpec* spec = FindCommand(entry)) {
      AddCommandRow(html, *spec, menuCaption);
    }
  }
}

// A QTextBrowser shows a chapter at a section only when the anchor is a name; the chapters
// mark their sections with ids, so each id gets a name anchor as well.
QString WithNamedSections(QString html) {
  static const QRegularExpression heading(QStringLiteral("<h2 id=\"([^\"]+)\">"));
  return html.replace(heading, QStringLiteral("<h2 id=\"\\1\"><a name=\"\\1\"></a>"));
}

// The one manual window of the application.
QPointer<THelpWindow>& ManualWindow() {
  static QPointer<THelpWindow> window;
  return window;
}

// F1 anywhere: the shortcut override keeps the help command's own shortcut (and a widget's
// use of the key) from taking it, and the key press opens the manual.
class TManualKey : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const auto type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    if (type == QEvent::ShortcutOverride) {
      event->accept();
      return true;
    }
    ShowManual(widget);
    return true;
  }
};

}  // namespace

// The chapters live in a static library, whose resources are only linked in when asked for.
static void LoadManualResources() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(help);
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)loaded;
}

std::span<const TManualChapter> ManualChapters() { return kChapters; }

QString ManualChapterFor(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    const QString name = w->objectName();
    if (name.isEmpty()) continue;
    for (const TContextChapter& context : kContextChapters) {
      if (name == QLatin1String(context.objectName)) return QString::fromLatin1(context.chapter);
    }
  }
  return QStringLiteral("index.html");
}

QString CommandKeysTable() {
  QString html = QStringLiteral(
      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n"
      "<tr><th>命令</th><th>菜单</th><th>快捷键</th><th>说明</th></tr>\n");
  for (const TMenuSpec& menu : MainMenus()) AddMenuRows(html, menu, MenuCaption(menu.caption));
  html += "</table>\n";
  return html;
}

TManualBrowser::TManualBrowser(QWidget* parent) : QTextBrowser(parent) {
  LoadManualResources();
  setOpenExternalLinks(true);
  document()->setDefaultStyleSheet(
      QStringLiteral("body { font-size: 11pt; } h1 { color: #1F4E79; } h2 { color: #2E75B6; } "
                     "code, pre { font-family: monospace; } th { background: #DDEBF7; } "
                     "p.nav { font-size: 9pt; }"));
}

QVariant TManualBrowser::loadResource(int type, const QUrl& name) {
  if (type != QTextDocument::HtmlResource) return QTextBrowser::loadResource(type, name);
  QFile file(QStringLiteral(":/help/") + name.fileName());
  if (!file.open(QIODevice::ReadOnly)) return {};
  QString html = QString::fromUtf8(file.readAll());
  html.replace(QStringLiteral("<!-- command-table -->"), CommandKeysTable());
  const QString examples = ExamplesFolder();
  html.replace(QStringLiteral("<!-- examples-folder -->"),
               examples.isEmpty() ? QStringLiteral("（未找到示例文件夹）")
                                  : "<code>" + examples.toHtmlEscaped() + "</code>");
  return WithNamedSections(html);
}

// Like a dialog, Esc puts the manual away again.
void THelpWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("frmHelp");
  setWindowTitle(QStringLiteral("Corvale 帮助"));
  contents_ = new QListWidget;
  contents_->setObjectName("lbHelpContents");
  for (const TManualChapter& chapter : kChapters) {
    auto* item = new QListWidgetItem(QString::fromUtf8(chapter.title), contents_);
    item->setData(Qt::UserRole, QString::fromLatin1(chapter.file));
  }
  browser_ = new TManualBrowser;
  browser_->setObjectName("tbHelp");
  browser_->setSearchPaths({QStringLiteral(":/help")});
  auto* splitter = new QSplitter;
  splitter->addWidget(contents_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({170, 690});
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);
  resize(860, 620);

  connect(contents_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { ShowChapter(item->data(Qt::UserRole).toString()); });
  connect(browser_, &QTextBrowser::sourceChanged, this, &THelpWindow::SyncContents);
}

void THelpWindow::ShowChapter(const QString& chapter) {
  const bool known = QFile::exists(QStringLiteral(":/help/") + FileOf(chapter));
  browser_->setSource(QUrl(kResourceRoot + (known ? chapter : QStringLiteral("index.html"))));
  SyncContents();
}

QString THelpWindow::CurrentChapter() const { return browser_->source().fileName(); }

void THelpWindow::SyncContents() {
  const QString file = CurrentChapter();
  for (int i = 0; i < contents_->count(); ++i) {
    if (contents_->item(i)->data(Qt::UserRole).toString() == file) {
      contents_->setCurrentRow(i);
      return;
    }
  }
}

THelpWindow* ShowManual(QWidget* from) {
  // The window stays with the main window; while a modal dialog runs it must belong to that
  // dialog, or the dialog would block it.
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMainWindow*>(top)) owner = top;
    }
  }
  QPointer<THelpWindow>& window = ManualWindow();
  if (!window) {
    window = new THelpWindow(owner);
    CentreOn(window, owner);
  } else if (window->parentWidget() != owner) {
    const QRect where = window->geometry();
    window->setParent(owner, Qt::Window);
    window->setGeometry(where);
  }
  window->ShowChapter(ManualChapterFor(from));
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

void InstallManual(QAction* helpCommand) {
  QObject::connect(helpCommand, &QAction::triggered, helpCommand,
                   [helpCommand] { ShowManual(qobject_cast<QWidget*>(helpCommand->parent())); });
  static TManualKey* key = nullptr;
  if (!key) {
    key = new TManualKey(qApp);
    qApp->installEventFilter(key);
  }
}
