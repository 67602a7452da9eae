#ifndef STARTUP_H
#define STARTUP_H

class QCoreApplication;

// What every start does, with or without a window: the folders every part reads
// (profiles, data next to the executable, language) and the translations.
class Startup
{
public:
    static constexpr char Version[] = "2.5.3";

    static void prepare(QCoreApplication &app);
    // The desktop's look: the style, its saved colours and the font size stored by the look and
    // feel settings; nothing is touched unless a style is stored.
    static void restoreLook();
};

#endif
