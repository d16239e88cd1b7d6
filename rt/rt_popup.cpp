// Modal popups. With a hook installed (tests, benchmarks) the hook answers
// and nothing is shown.
#include "rt/rt_ui_internal.h"
#include "rt/rt_testing.h"
#include "fileio/fileio.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>

static std::function<RtPopupAnswer(const RtPopup &)> g_hook;

void rt_SetPopupHook(std::function<RtPopupAnswer(const RtPopup &)> hook) {
    g_hook = std::move(hook);
}

static std::string Str(const char *s) { return s ? std::string(s) : std::string(); }
static QString QStr(const char *s) { return s ? QString::fromLocal8Bit(s) : QString(); }

int MessagePopup(const char *title, const char *message) {
    if (g_hook) {
        RtPopup p;
        p.kind = 1;
        p.title = Str(title);
        p.message = Str(message);
        return g_hook(p).result;
    }
    if (!qApp) {
        std::fprintf(stderr, "%s: %s\n", title ? title : "", message ? message : "");
        return RT_UIE_BAD_PANEL;
    }
    QMessageBox box(QMessageBox::NoIcon, QStr(title), QStr(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
    return 0;
}

int ConfirmPopup(const char *title, const char *message) {
    if (g_hook) {
        RtPopup p;
        p.kind = 2;
        p.title = Str(title);
        p.message = Str(message);
        return g_hook(p).result;
    }
    if (!qApp) return 0;
    QMessageBox box(QMessageBox::Question, QStr(title), QStr(message),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}

// Copies the chosen path; a path that does not fit counts as a cancel, since
// a cut-off name would point at another file, and the operator is told why
// nothing happens. On cancel the caller's buffer keeps what it held.
static int Deliver(int result, const std::string &chosen, char *path, int bufSize) {
    if (result != VAL_EXISTING_FILE_SELECTED && result != VAL_NEW_FILE_SELECTED)
        return VAL_NO_FILE_SELECTED;
    if (chosen.empty() || !path || bufSize <= 0) return VAL_NO_FILE_SELECTED;
    if (chosen.size() + 1 > static_cast<size_t>(bufSize)) {
        const std::string text = "The path of this file is too long (at most " +
                                 std::to_string(bufSize - 1) +
                                 " characters) - nothing was read or written:\n" + chosen;
        MessagePopup("File", text.c_str());
        return VAL_NO_FILE_SELECTED;
    }
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    return result;
}

// A file saved under a restricted filter must match it, or the dialog that
// loads it (same filter) does not list it: a name that matches none of the
// patterns gets the extension of the first ("*.dat": "para" becomes
// "para.dat", "para.v2" becomes "para.v2.dat"). Letter case does not count,
// as in the dialog's list.
static QString WithFilterExtension(const QString &chosen, const QStringList &pats) {
    if (pats.isEmpty()) return chosen;
    const QString name = QFileInfo(chosen).fileName();
    if (name.isEmpty()) return chosen;
    for (const QString &p : pats) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p.trimmed()),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch()) return chosen;
    }
    const QString first = pats.first().trimmed();
    const QString ext = first.mid(1);   // ".dat"
    if (!first.startsWith(QLatin1String("*.")) || ext.size() < 2 ||
        ext.contains(QRegularExpression(QStringLiteral("[*?\\[]"))))
        return chosen;
    return name.endsWith(QLatin1Char('.')) ? chosen + ext.mid(1) : chosen + ext;
}

int FileSelectPopup(const char *defaultDir, const char *defaultName, const char *filter,
                    const char *title, const char *buttonLabel, int restrictDir, int restrictExt,
                    int allowCancel, int allowMakeDir, char *path, int bufSize) {
    (void)restrictDir;
    (void)allowCancel;
    if (g_hook) {
        RtPopup p;
        p.kind = 3;
        p.title = Str(title);
        p.defaultDir = Str(defaultDir);
        p.defaultName = Str(defaultName);
        p.filter = Str(filter);
        p.buttonLabel = Str(buttonLabel);
        RtPopupAnswer a = g_hook(p);
        return Deliver(a.result, a.path, path, bufSize);
    }
    if (!qApp) return VAL_NO_FILE_SELECTED;
    QFileDialog dlg(QApplication::activeWindow(), QStr(title), QStr(defaultDir));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    // the program asks itself before it overwrites
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!allowMakeDir) dlg.setOption(QFileDialog::ReadOnly, true);
    QString label = QStr(buttonLabel);
    bool load = label.contains(QLatin1String("Load"), Qt::CaseInsensitive) ||
                label.contains(QLatin1String("Open"), Qt::CaseInsensitive);
    dlg.setAcceptMode(load ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(load ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QString f = QStr(filter).trimmed();
    const QStringList pats = f.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (!pats.isEmpty()) {
        QStringList filters{QStringLiteral("Files (%1)").arg(pats.join(QLatin1Char(' ')))};
        if (!restrictExt) filters << QStringLiteral("All files (*)");
        dlg.setNameFilters(filters);
    }
    if (!label.isEmpty()) dlg.setLabelText(QFileDialog::Accept, label);
    if (defaultName && *defaultName) dlg.selectFile(QStr(defaultName));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return VAL_NO_FILE_SELECTED;
    QString chosen = dlg.selectedFiles().first();
    if (!load && restrictExt) chosen = WithFilterExtension(chosen, pats);
    int result = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    return Deliver(result, chosen.toLocal8Bit().toStdString(), path, bufSize);
}

int GetFilesDir(char *dir, int bufSize) {
    if (!dir || bufSize <= 0) return -1;
    dir[0] = '\0';
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const std::string out =
        fileio::ProposalDir(fileio::ProgramDir(), docs.toLocal8Bit().toStdString());
    // a cut path would name some other directory
    if (out.empty() || out.size() + 1 > static_cast<size_t>(bufSize)) return -1;
    std::memcpy(dir, out.c_str(), out.size() + 1);
    return 0;
}
