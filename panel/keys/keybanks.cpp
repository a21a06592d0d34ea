// Key banks: list building, paging arithmetic, selection and the computed
// look of keys, scroll bars and status rows.
#include "keybanks.h"

#include <algorithm>

namespace exel {

KeyBanks::KeyBanks(const StatandConfig &model)
    : m_model(model)
{
    BlankDisplay();
}

void KeyBanks::blankKey(KeyState &key)
{
    key.caption.clear();
    key.enabled = false;
    key.colour = KeyColour::ButtonFace;
}

int KeyBanks::clampOffset(int value, int count, int page)
{
    return std::clamp(value, 0, std::max(0, count - page));
}

// ---------------------------------------------------------------- loading

QStringList KeyBanks::load1stSystem()
{
    QStringList names;
    for (int i = 0; i < m_model.nameSetCount(); ++i)
        names << m_model.NameSetName(i);
    if (!names.isEmpty())
        LoadSystem(0);
    return names;
}

void KeyBanks::LoadSystem(int intSysOffset)
{
    BlankDisplay();
    m_lev.clear();
    m_levOffset = 0;
    m_src = m_model.NameSetSourceList(intSysOffset);
    m_dst = m_model.NameSetDestinationList(intSysOffset);
    setScrollBars();
    drawDstKeys();
    determActiveLevels();
    drawLevKeys();
    drawSrcKeys();
    m_nameSet = intSysOffset;
}

void KeyBanks::BlankDisplay()
{
    for (KeyState &k : m_levKeys) {
        k.colour = KeyColour::ButtonFace;
        k.caption.clear();
    }
    for (KeyState &k : m_srcKeys)
        k.caption.clear();
    for (KeyState &k : m_dstKeys) {
        k.colour = KeyColour::ButtonFace;
        k.caption.clear();
    }
    for (StatusRow &r : m_rows)
        r = StatusRow {};
    m_srcOffset = m_dstOffset = m_levOffset = m_statusOffset = 0;
    m_src.clear();
    m_dst.clear();
    m_lev.clear();
    ++m_revision;
}

// ---------------------------------------------------------------- scroll bars

void KeyBanks::setScrollBars()
{
    const auto bank = [](ScrollState &bar, int count, int page, int offset) {
        if (count > page) {
            bar.enabled = bar.visible = true;
            bar.maximum = count - page;
            bar.largeChange = page;
            bar.value = std::clamp(offset, 0, bar.maximum);
        } else {
            bar.enabled = bar.visible = false;
        }
    };
    bank(m_dstScroll, destinationCount(), kDestKeys, m_dstOffset);
    bank(m_srcScroll, sourceCount(), kSourceKeys, m_srcOffset);
    setScrollLevel();
    SetScrollStatus();
}

void KeyBanks::setScrollLevel()
{
    if (levelCount() > kLevelKeys) {
        m_levScroll.enabled = m_levScroll.visible = true;
        m_levScroll.maximum = levelCount() - kLevelKeys;
        m_levScroll.largeChange = kLevelKeys;
        m_levScroll.value = m_levOffset;
    } else {
        m_levScroll.enabled = m_levScroll.visible = false;
    }
    ++m_revision;
}

void KeyBanks::SetScrollStatus()
{
    if (destinationCount() > kStatusRows) {
        m_statusScroll.enabled = m_statusScroll.visible = true;
        m_statusScroll.maximum = destinationCount() - kStatusRows;
        m_statusScroll.largeChange = kStatusRows;
        m_statusScroll.value = m_statusOffset;
    } else {
        m_statusScroll.enabled = m_statusScroll.visible = false;
    }
    ++m_revision;
}

// ---------------------------------------------------------------- drawing

void KeyBanks::drawDstKeys()
{
    for (int k = 0; k < kDestKeys; ++k) {
        KeyState &key = m_dstKeys[static_cast<size_t>(k)];
        const int entry = m_dstOffset + k;
        if (entry < destinationCount()) {
            const ListEntry &e = m_dst[static_cast<size_t>(entry)];
            key.enabled = true;
            key.colour = e.flag ? KeyColour::Selected : KeyColour::Unselected;
            key.caption = m_model.DestinationName(e.index);
        } else {
            blankKey(key);
        }
    }
    UpdateDestLockStatus();
}

void KeyBanks::drawLevKeys()
{
    for (int k = 0; k < kLevelKeys; ++k) {
        KeyState &key = m_levKeys[static_cast<size_t>(k)];
        const int entry = m_levOffset + k;
        if (entry < levelCount()) {
            const ListEntry &e = m_lev[static_cast<size_t>(entry)];
            key.enabled = true;
            key.colour = e.flag ? KeyColour::Selected : KeyColour::Unselected;
            key.caption = m_model.LevelName(e.index);
        } else {
            blankKey(key);
        }
    }
    ++m_revision;
}

void KeyBanks::drawSrcKeys()
{
    for (int k = 0; k < kSourceKeys; ++k) {
        KeyState &key = m_srcKeys[static_cast<size_t>(k)];
        const int entry = m_srcOffset + k;
        if (entry < sourceCount()) {
            const int source = m_src[static_cast<size_t>(entry)].index;
            key.caption = m_model.SourceName(source);
            key.enabled = isSrcActive(source);
        } else {
            key.caption.clear();
            key.enabled = false;
        }
    }
    ++m_revision;
}

bool KeyBanks::isSrcActive(int intSrc) const
{
    for (const ListEntry &l : m_lev)
        if (l.flag && m_model.SourceOnLevel(intSrc, l.index))
            return true;
    return false;
}

void KeyBanks::UpdateAllStatus()
{
    for (int r = 0; r < kStatusRows; ++r)
        UpdateOneStatus(r);
    UpdateDestLockStatus();
    m_statusScroll.value = m_statusOffset;
    ++m_revision;
}

void KeyBanks::UpdateOneStatus(int intPosition)
{
    if (intPosition < 0 || intPosition >= kStatusRows)
        return;
    const int entry = m_statusOffset + intPosition;
    // A row past the end of a short list keeps what it showed until BlankDisplay.
    if (entry < 0 || entry >= destinationCount())
        return;
    const int dest = m_dst[static_cast<size_t>(entry)].index;
    StatusRow &row = m_rows[static_cast<size_t>(intPosition)];
    row.caption = m_model.DestinationName(dest);
    row.lockPicture = m_model.Locked(dest);
    for (int c = 0; c < kStatusColumns; ++c) {
        StatusCell &cell = row.sources[static_cast<size_t>(c)];
        const int levEntry = m_levOffset + c;
        if (levEntry < levelCount()) {
            const DestinationStatus st = m_model.Status(m_lev[static_cast<size_t>(levEntry)].index, dest);
            cell.caption = m_model.SourceName(st.source);
            cell.text = st.flag != 0 ? TextColour::LightRed : TextColour::Black;
        } else {
            cell.caption.clear();
        }
    }
    ++m_revision;
}

void KeyBanks::UpdateDestLockStatus()
{
    for (int k = 0; k < kDestKeys; ++k) {
        const int entry = m_dstOffset + k;
        if (entry < destinationCount())
            m_dstKeys[static_cast<size_t>(k)].text = m_model.Locked(m_dst[static_cast<size_t>(entry)].index)
                ? TextColour::LightRed
                : TextColour::LightBlue;
    }
    ++m_revision;
}

// ---------------------------------------------------------------- rules

void KeyBanks::clearDestSelect()
{
    for (ListEntry &e : m_dst)
        e.flag = false;
}

void KeyBanks::determActiveLevels()
{
    m_lev = m_model.ActiveLevels(m_dst);
    m_levOffset = 0;
    setScrollLevel();
    UpdateAllStatus();
}

void KeyBanks::AdjustDestBtnDisplay(int intDstBtn)
{
    const int count = destinationCount();
    if (intDstBtn < 0 || intDstBtn >= count)
        return;
    if (intDstBtn >= m_dstOffset && intDstBtn < m_dstOffset + kDestKeys)
        return;
    if (intDstBtn <= 8)
        m_dstOffset = 0;
    else if (count - intDstBtn > 8)
        m_dstOffset = intDstBtn - 8;
    else
        m_dstOffset = count - kDestKeys;
    m_dstOffset = clampOffset(m_dstOffset, count, kDestKeys);
    setScrollBars();
    // Moving the bar redraws the banks, as the bar's own change event would.
    drawDstKeys();
    drawSrcKeys();
    UpdateAllStatus();
}

void KeyBanks::AdjustStatusDisplay(int intDstEntry)
{
    const int count = destinationCount();
    const int entry = intDstEntry + m_dstOffset;
    if (count < 7 || (entry >= m_statusOffset && entry <= m_statusOffset + kStatusRows - 1))
        return;
    if (entry <= 3)
        m_statusOffset = 0;
    else if (count - entry > 3)
        m_statusOffset = entry - 3;
    else
        m_statusOffset = count - kStatusRows;
    m_statusOffset = clampOffset(m_statusOffset, count, kStatusRows);
    SetScrollStatus();
    UpdateAllStatus();
}

std::vector<int16_t> KeyBanks::selectedDestinations() const
{
    std::vector<int16_t> out;
    for (const ListEntry &e : m_dst)
        if (e.flag)
            out.push_back(e.index);
    return out;
}

int KeyBanks::sourceOnKey(int Index) const
{
    if (Index < 0 || Index >= kSourceKeys)
        return -1;
    const int entry = m_srcOffset + Index;
    return entry < sourceCount() ? m_src[static_cast<size_t>(entry)].index : -1;
}

// ---------------------------------------------------------------- actions

void KeyBanks::btnDestination_Click(int Index)
{
    if (Index < 0 || Index >= kDestKeys)
        return;
    const int entry = m_dstOffset + Index;
    if (entry >= destinationCount())
        return;
    ListEntry &e = m_dst[static_cast<size_t>(entry)];
    if (!m_gang) {
        const bool was = e.flag;
        clearDestSelect();
        e.flag = was;
    }
    e.flag = !e.flag;
    drawDstKeys();
    determActiveLevels();
    drawLevKeys();
    AdjustStatusDisplay(Index);
    drawSrcKeys();
}

void KeyBanks::btnGang_Click()
{
    m_gang = true;
    clearDestSelect();
    drawDstKeys();
    determActiveLevels();
    drawLevKeys();
    drawSrcKeys();
}

void KeyBanks::btnSingle_Click()
{
    m_gang = false;
    clearDestSelect();
    drawDstKeys();
    determActiveLevels();
    drawLevKeys();
    drawSrcKeys();
}

void KeyBanks::btnLevel_Click(int Index)
{
    if (Index < 0 || Index >= kLevelKeys)
        return;
    const int entry = m_levOffset + Index;
    if (entry >= levelCount())
        return;
    m_lev[static_cast<size_t>(entry)].flag = !m_lev[static_cast<size_t>(entry)].flag;
    drawLevKeys();
    drawSrcKeys();
}

void KeyBanks::btnSelectAll_Click()
{
    for (ListEntry &l : m_lev)
        l.flag = true;
    drawLevKeys();
    drawSrcKeys();
}

void KeyBanks::btnClearAll_Click()
{
    for (ListEntry &l : m_lev)
        l.flag = false;
    drawLevKeys();
    drawSrcKeys();
}

void KeyBanks::LabelDstStatus_Click(int Index)
{
    if (Index < 0 || Index >= kStatusRows)
        return;
    const int entry = m_statusOffset + Index;
    if (entry >= destinationCount())
        return;
    if (entry < m_dstOffset || entry >= m_dstOffset + kDestKeys)
        AdjustDestBtnDisplay(entry);
    btnDestination_Click(entry - m_dstOffset);
}

void KeyBanks::scrlDestination_Scroll(int value)
{
    m_dstOffset = clampOffset(value, destinationCount(), kDestKeys);
    m_dstScroll.value = m_dstOffset;
    drawDstKeys();
    drawSrcKeys();
}

void KeyBanks::scrlSource_Scroll(int value)
{
    m_srcOffset = clampOffset(value, sourceCount(), kSourceKeys);
    m_srcScroll.value = m_srcOffset;
    drawSrcKeys();
}

void KeyBanks::scrlLevel_Scroll(int value)
{
    m_levOffset = clampOffset(value, levelCount(), kLevelKeys);
    m_levScroll.value = m_levOffset;
    drawLevKeys();
    UpdateAllStatus();
}

void KeyBanks::scrlDestStatus_Scroll(int value)
{
    m_statusOffset = clampOffset(value, destinationCount(), kStatusRows);
    UpdateAllStatus();
}

// ---------------------------------------------------------------- panel swap

SwapDecision SetSrcDstFormPosition(const QString &stored, bool destAbove)
{
    const bool wantAbove = stored == QLatin1String("TRUE");
    return SwapDecision { wantAbove != destAbove, QString() };
}

SwapDecision mnuSrcDstSwap_Click(const QString &stored, bool destAbove)
{
    if (stored != QLatin1String("FALSE"))
        return SwapDecision { destAbove, QStringLiteral("FALSE") };
    return SwapDecision { !destAbove, QStringLiteral("TRUE") };
}

} // namespace exel
