// The key banks of the main window as state a test can drive without a
// window: the source, destination and level lists of the name set shown, the
// four offsets, selection, the paging arithmetic, and the computed look of
// every key, scroll bar and status row. The window only paints these states.
#pragma once

#include "statandconfig.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace exel {

// Back colour of a key.
enum class KeyColour {
    ButtonFace, // no entry: the system's button-face colour
    Selected, // selected destination / active level: green (0, 255, 0)
    Unselected, // yellow (255, 255, 0)
};

// Text colour from the standard 16-colour palette.
enum class TextColour {
    Black, // palette 0
    LightBlue, // palette 9: destination key of an unlocked destination
    LightRed, // palette 12: locked destination, marked status cell
};

constexpr uint32_t kRgbSelected = 0x00FF00;
constexpr uint32_t kRgbUnselected = 0xFFFF00;
constexpr uint32_t kRgbLightBlue = 0x0000FF; // QBColor(9)
constexpr uint32_t kRgbLightRed = 0xFF0000; // QBColor(12)
constexpr uint32_t kRgbBlack = 0x000000;

struct KeyState {
    QString caption;
    bool enabled = true;
    KeyColour colour = KeyColour::ButtonFace;
    TextColour text = TextColour::Black;

    bool operator==(const KeyState &) const = default;
};

struct ScrollState {
    bool enabled = false;
    bool visible = false;
    int maximum = 0;
    int largeChange = 1;
    int value = 0;

    bool operator==(const ScrollState &) const = default;
};

struct StatusCell {
    QString caption;
    TextColour text = TextColour::Black;

    bool operator==(const StatusCell &) const = default;
};

struct StatusRow {
    QString caption;
    bool lockPicture = false;
    std::array<StatusCell, 4> sources {};

    bool operator==(const StatusRow &) const = default;
};

class KeyBanks {
public:
    static constexpr int kDestKeys = 16;
    static constexpr int kSourceKeys = 16;
    static constexpr int kLevelKeys = 4;
    static constexpr int kStatusRows = 6;
    static constexpr int kStatusColumns = 4;

    explicit KeyBanks(const StatandConfig &model);

    // ---- loading a name set
    // Clears the combo list and shows name set 0 when there is one; returns
    // the name-set names in table order for the chooser.
    QStringList load1stSystem();
    void LoadSystem(int intSysOffset);
    void BlankDisplay();

    // ---- drawing (recomputes the key states from the lists and the model)
    void setScrollBars();
    void setScrollLevel();
    void SetScrollStatus();
    void drawDstKeys();
    void drawSrcKeys();
    void drawLevKeys();
    void UpdateAllStatus();
    void UpdateOneStatus(int intPosition);
    void UpdateDestLockStatus();

    // ---- rules
    // intSrc is a source index of the model.
    bool isSrcActive(int intSrc) const;
    void clearDestSelect();
    void determActiveLevels();
    void AdjustDestBtnDisplay(int intDstBtn);
    void AdjustStatusDisplay(int intDstEntry);

    // ---- operator actions (a key or row without an entry does nothing)
    void btnDestination_Click(int Index);
    void btnLevel_Click(int Index);
    void btnGang_Click();
    void btnSingle_Click();
    void btnSelectAll_Click();
    void btnClearAll_Click();
    void LabelDstStatus_Click(int Index);
    // Each _Change handler does what its _Scroll handler does. Values outside
    // the bar's range are brought into it.
    void scrlDestination_Scroll(int value);
    void scrlSource_Scroll(int value);
    void scrlLevel_Scroll(int value);
    void scrlDestStatus_Scroll(int value);
    void scrlDestination_Change(int value) { scrlDestination_Scroll(value); }
    void scrlSource_Change(int value) { scrlSource_Scroll(value); }
    void scrlLevel_Change(int value) { scrlLevel_Scroll(value); }
    void scrlDestStatus_Change(int value) { scrlDestStatus_Scroll(value); }

    // ---- state
    const std::vector<ListEntry> &sourceList() const { return m_src; }
    const std::vector<ListEntry> &destinationList() const { return m_dst; }
    const std::vector<ListEntry> &levelList() const { return m_lev; }
    int sourceCount() const { return static_cast<int>(m_src.size()); }
    int destinationCount() const { return static_cast<int>(m_dst.size()); }
    int levelCount() const { return static_cast<int>(m_lev.size()); }
    int sourceOffset() const { return m_srcOffset; }
    int destinationOffset() const { return m_dstOffset; }
    int levelOffset() const { return m_levOffset; }
    int statusOffset() const { return m_statusOffset; }
    int currentNameSet() const { return m_nameSet; }
    bool gang() const { return m_gang; }
    // Selected destinations (model indices) in list order.
    std::vector<int16_t> selectedDestinations() const;
    // Source (model index) on source key Index, or -1 when the key has no entry.
    int sourceOnKey(int Index) const;

    const std::array<KeyState, kDestKeys> &destinationKeys() const { return m_dstKeys; }
    const std::array<KeyState, kSourceKeys> &sourceKeys() const { return m_srcKeys; }
    const std::array<KeyState, kLevelKeys> &levelKeys() const { return m_levKeys; }
    const std::array<StatusRow, kStatusRows> &statusRows() const { return m_rows; }
    const ScrollState &destinationScroll() const { return m_dstScroll; }
    const ScrollState &sourceScroll() const { return m_srcScroll; }
    const ScrollState &levelScroll() const { return m_levScroll; }
    const ScrollState &statusScroll() const { return m_statusScroll; }

    // Bumped by every change of a computed state, so a window repaints only
    // when something it shows changed.
    quint64 revision() const { return m_revision; }

private:
    static void blankKey(KeyState &key);
    static int clampOffset(int value, int count, int page);
    void selectDestination(int entry);

    const StatandConfig &m_model;
    std::vector<ListEntry> m_src;
    std::vector<ListEntry> m_dst;
    std::vector<ListEntry> m_lev;
    int m_srcOffset = 0;
    int m_dstOffset = 0;
    int m_levOffset = 0;
    int m_statusOffset = 0;
    int m_nameSet = -1;
    bool m_gang = false;

    std::array<KeyState, kDestKeys> m_dstKeys {};
    std::array<KeyState, kSourceKeys> m_srcKeys {};
    std::array<KeyState, kLevelKeys> m_levKeys {};
    std::array<StatusRow, kStatusRows> m_rows {};
    ScrollState m_dstScroll;
    ScrollState m_srcScroll;
    ScrollState m_levScroll;
    ScrollState m_statusScroll;
    quint64 m_revision = 0;
};

// The swap of the source and destination panels. The stored "flipSrcDst"
// value says which is higher: "TRUE" puts destinations above sources.
struct SwapDecision {
    bool flip = false; // exchange the two panels' vertical positions
    QString store; // value to store under "flipSrcDst" ("" = store nothing)
};
// Start-up: flip when the stored value and the current order disagree.
SwapDecision SetSrcDstFormPosition(const QString &stored, bool destAbove);
// Menu: a stored value other than "FALSE" brings destinations below and
// stores "FALSE"; otherwise brings them above and stores "TRUE".
SwapDecision mnuSrcDstSwap_Click(const QString &stored, bool destAbove);

} // namespace exel
