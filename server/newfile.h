#ifndef NEWFILE_H
#define NEWFILE_H

#include "server/sharepath.h"

#include <QByteArray>
#include <QFile>

#include <sys/types.h>

// A file written into a folder of the share that takes its name only once it is whole: until
// then it has no name at all (O_TMPFILE), so that nothing of it is left when the program dies.
// Where the file system cannot make such a file it has a hidden name (HiddenPrefix) and is held
// locked while it is written: no listing shows it, and one that finds it unlocked, its writer
// gone, removes it.
class NewFile
{
public:
    enum Outcome { Placed, Taken, Failed };

    NewFile() = default;
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;
    ~NewFile() { discard(); }

    // Opens a new empty file in the folder open at `folder` (its descriptor is duplicated).
    bool create(int folder, mode_t mode = 0666);
    bool isOpen() const { return out.isOpen(); }
    // The file to write to (its handle() is the descriptor).
    QFile &file() { return out; }

    // Gives the complete file the name `name` in its folder and closes it; with `sync` it is on
    // the disk first. Without `replace` a name that is taken (by anything, a link too) is left
    // as it is (Taken); with it a file of that name is replaced in one step. Failed leaves errno.
    Outcome place(const QByteArray &name, bool replace, bool sync);
    // Removes the file: nothing of it remains.
    void discard();

    // A hidden new file's name: this, then letters and digits.
    static constexpr char HiddenPrefix[] = ".upload-";
    // Whether `name` is one that a hidden new file gets.
    static bool isHiddenName(QByteArrayView name);
    // Removes the hidden new file `name` of the folder open at `in` when nobody writes it.
    static void dropLeftover(int in, const char *name);

private:
    bool createHidden(mode_t mode);
    // Links the file under a fresh hidden name (for a replacing place()).
    bool linkHidden();

    Descriptor folder;
    QFile out;
    QByteArray hidden; // the hidden name the file has, if any
};

#endif
