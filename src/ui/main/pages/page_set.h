#pragma once
// The three parameter pages (Z1, Z2, Z3), each built the first time something needs it: a start
// that shows no page builds none. What every page takes from the window (the language's texts,
// which search tab is active, whether data debugging is there) is kept here and given to a page
// as it is built, so a page built late looks as one built at start would. The pages' save
// buttons reach the window and the links through this object's signals, which exist from the
// start.

#include <QObject>

class QWidget;

namespace varnix {

class IPageHost;
class TZ1Page;
class TZ2Page;
class TZ3Page;

class TPageSet final : public QObject {
    Q_OBJECT
public:
    // The page control's sheets the pages go into (each with a layout).
    struct TSheets {
        QWidget* Z1 = nullptr;
        QWidget* Z2 = nullptr;
        QWidget* Z3 = nullptr;
    };
    TPageSet(IPageHost& host, TSheets sheets, QObject* parent = nullptr);

    // The page, built now if it was not yet.
    TZ1Page& Z1();
    TZ2Page& Z2();
    TZ3Page& Z3();
    // The page when it has been built, otherwise null.
    TZ1Page* BuiltZ1() const { return z1_; }
    TZ2Page* BuiltZ2() const { return z2_; }
    TZ3Page* BuiltZ3() const { return z3_; }
    // Builds every page not built yet.
    void BuildAll();
    // The sheet of the widest page in either language, its page built (Z2: a test holds this).
    QWidget* WidestSheet();
    // The window the pages sit in (the parent of their messages).
    QWidget* Window() const;

    // The current language's texts, on every built page.
    void ApplyTexts();
    // The LAN search tab (true) or the serial one.
    void SetLanTabActive(bool lan);
    void SetDataDebugAvailable(bool available);
    // Empties the LAN pages (Z2, Z3) that have been built: a page not built shows nothing yet.
    void ClearLanPages();

signals:
    // A page has just been built and has taken the window's state.
    void Built(QWidget* page);
    void Z1NetSaveRequested();
    void Z1SerialSaveRequested();
    void Z2NetSaveRequested();
    void Z2SerialSaveRequested();
    void Z3NetSaveRequested();

private:
    IPageHost& host_;
    TSheets sheets_;
    TZ1Page* z1_ = nullptr;
    TZ2Page* z2_ = nullptr;
    TZ3Page* z3_ = nullptr;
    bool lan_ = true;
    bool dataDebug_ = false;
};

} // namespace varnix
