#include "config/profiledialog.h"

#include "config/configuration.h"
#include "widgets/prompt.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <QKeyEvent>
#include <QLineEdit>

#include <memory>

namespace {

// Tells when the user chooses an entry from the list or with the arrow keys, rather than typing.
class ProfileBox : public QComboBox
{
public:
    explicit ProfileBox(std::function<void()> onChoice)
        : chosen(std::move(onChoice))
    {
    }

    void showPopup() override
    {
        chosen();
        QComboBox::showPopup();
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            chosen();
            break;
        default:
            break;
        }
        QComboBox::keyPressEvent(event);
    }

    void wheelEvent(QWheelEvent *event) override
    {
        chosen();
        QComboBox::wheelEvent(event);
    }

private:
    std::function<void()> chosen;
};

} // namespace

ProfileDialog::ProfileDialog(Configuration *current, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Change Profile"));
    profileBox = new ProfileBox([this] { typedOver = -1; });
    profileBox->setEditable(true);
    // Typing renames the current entry; it never adds one.
    profileBox->setInsertPolicy(QComboBox::NoInsert);
    connect(profileBox->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (typedOver < 0)
            typedOver = profileBox->currentIndex();
    });
    for (const Configuration *p : std::as_const(Configuration::confList))
        profileBox->addItem(p->profileName);
    if (current)
        profileBox->setCurrentIndex(int(Configuration::confList.indexOf(current)));

    auto *newButton = new QPushButton(tr("New profile"));
    auto *removeButton = new QPushButton(tr("Remove profile"));
    newButton->setAutoDefault(false);
    removeButton->setAutoDefault(false);
    connect(newButton, &QPushButton::clicked, this, &ProfileDialog::newProfile);
    connect(removeButton, &QPushButton::clicked, this, &ProfileDialog::deleteProfile);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::accepted, this, &ProfileDialog::ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(newButton);
    row->addWidget(removeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Select profile or edit profile name")));
    layout->addWidget(profileBox);
    layout->addLayout(row);
    layout->addWidget(buttons);
    Prompt::keepTitleWhole(this);
}

int ProfileDialog::run()
{
    return Prompt::current()->exec(this);
}

Configuration *ProfileDialog::getConfig() const
{
    return Configuration::confList.value(profileBox->currentIndex());
}

QString ProfileDialog::refusal(const QString &name, const Configuration *renamed)
{
    // The name becomes the name of a file in the profile folder.
    if (name.trimmed().isEmpty())
        return tr("A profile needs a name.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return tr("A profile cannot be named \".\" or \"..\".");
    if (name.contains(u'/'))
        return tr("A profile name cannot contain \"/\".");
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return tr("A profile name cannot contain control characters.");
    }
    if (name.toUtf8().size() > MaxNameBytes)
        return tr("A profile name has at most %1 bytes.").arg(MaxNameBytes);
    for (const Configuration *p : std::as_const(Configuration::confList)) {
        if (p != renamed && p->profileName == name)
            return tr("There is a profile of this name already.");
    }
    if (!renamed) {
        Configuration probe;
        probe.setFileName(name);
        if (QFileInfo::exists(probe.fileName()))
            return tr("The profile folder holds a file of this name already.");
    }
    return QString();
}

void ProfileDialog::restoreEntry(int index)
{
    typedOver = -1;
    profileBox->setCurrentIndex(index);
    profileBox->setEditText(profileBox->itemText(index));
}

void ProfileDialog::ok()
{
    // A name typed over an entry renames that entry, even when the box has gone to the entry of
    // that name meanwhile: typing never chooses another profile.
    const int index = typedOver >= 0 ? typedOver : profileBox->currentIndex();
    Configuration *p = Configuration::confList.value(index);
    if (!p)
        return;
    const QString name = profileBox->currentText();
    if (name != p->profileName) {
        const QString refused = refusal(name, p);
        if (!refused.isEmpty()) {
            Prompt::warning(this, refused);
            restoreEntry(index);
            return;
        }
        // The file keeps its name; it holds the new one from now on, as the rows will.
        p->profileName = name;
        if (!p->save())
            Prompt::notSaved(this, {p->saveError()}, Prompt::tr("The new name holds until Tessaly ends."));
        profileBox->setItemText(index, name);
    }
    chosenProfile = p;
    accept();
}

void ProfileDialog::newProfile()
{
    QString name;
    if (!Prompt::input(this, tr("Profile name"), &name))
        return;
    const QString refused = refusal(name);
    if (!refused.isEmpty()) {
        Prompt::warning(this, refused);
        return;
    }
    std::unique_ptr<Configuration> p(Configuration::getGlobalConfig()->clone());
    p->setFileName(name);
    p->profileName = name;
    if (!p->save()) {
        Prompt::notSaved(this, {p->saveError()}, tr("The profile was not made."));
        return;
    }
    profileBox->addItem(name);
    Configuration::confList.append(p.release());
}

void ProfileDialog::deleteProfile()
{
    const int i = qMax(0, profileBox->currentIndex());
    Configuration *p = Configuration::confList.value(i);
    if (!p)
        return;
    if (i == 0) {
        Prompt::warning(this, tr("The global profile is not removable."));
        return;
    }
    // Servers refer to their profile: one in use stays until no server runs on it.
    if (p->useCount >= 1) {
        Prompt::warning(this, tr("Used config profile is not removable."));
        return;
    }
    // A file that is gone already is no reason to keep the profile.
    if (!p->remove() && QFileInfo::exists(p->fileName()))
        return;
    profileBox->removeItem(i);
    Configuration::confList.removeAt(i);
    delete p;
}
