#include "portlist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <tuple>

namespace {

constexpr int g_nKeyRole = Qt::UserRole;
constexpr int g_nPathRole = Qt::UserRole + 1;
constexpr int g_nPortRole = Qt::UserRole + 2;
// udev makes the node, then its links, group and mode, within milliseconds: read once after.
constexpr int g_nSettleMs = 150;

QString FromStd(const std::string& str)
{
    return QString::fromStdString(str);
}

QString ItemText(const SSerialDevice& dev, bool bGone)
{
    QString strText = FromStd(dev.DisplayName());
    for (size_t i = 0; i < dev.comNames.size(); ++i)
        strText
            += (i == 0 ? QStringLiteral(" = ") : QStringLiteral(", ")) + FromStd(dev.comNames[i]);
    if (bGone)
        strText += QStringLiteral(" (unplugged)");
    return strText;
}

QString ToolTip(const SSerialDevice& dev)
{
    QStringList lines { FromStd(dev.strPath) };
    if (!dev.strById.empty())
        lines << FromStd(dev.strById);
    if (dev.IsUsb())
        lines << QStringLiteral("USB %1:%2 %3")
                     .arg(FromStd(dev.strVendorId), FromStd(dev.strProductId),
                         FromStd(dev.strManufacturer))
                     .trimmed();
    return lines.join(QLatin1Char('\n'));
}

bool SameDevices(const std::vector<SSerialDevice>& a, const std::vector<SSerialDevice>& b)
{
    const auto fields = [](const SSerialDevice& dev) {
        return std::tie(dev.strName, dev.strPath, dev.strById, dev.strVendorId, dev.strProductId,
            dev.strManufacturer, dev.strProduct, dev.strSerial, dev.comNames);
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
        [&](const SSerialDevice& x, const SSerialDevice& y) { return fields(x) == fields(y); });
}

} // namespace

CPortList::CPortList(QComboBox* pCombo, QObject* pParent)
    : QObject(pParent)
    , m_pCombo(pCombo)
    , m_nFixedItems(pCombo->count())
{
    m_timerSettle.setSingleShot(true);
    m_timerSettle.setInterval(g_nSettleMs);
    connect(&m_timerSettle, &QTimer::timeout, this, &CPortList::Rescan);
    connect(&m_watch, &CPortWatch::Changed, &m_timerSettle, [this] { m_timerSettle.start(); });
    // An unplugged device is listed only while it is selected (or open).
    connect(m_pCombo, &QComboBox::currentIndexChanged, this, [this](int nIndex) {
        if (m_bGoneListed && !m_bFilling)
            Fill();
        // The narrow box shows a device's name rather than the end of its description.
        const bool bDevice = nIndex >= m_nFixedItems;
        if (bDevice && m_pCombo->lineEdit())
            m_pCombo->lineEdit()->setCursorPosition(0);
        m_pCombo->setToolTip(bDevice ? m_pCombo->itemText(nIndex) : QString());
    });
    SetRoots(CPortRoots());
}

void CPortList::SetRoots(const CPortRoots& roots)
{
    m_watch.Clear();
    m_roots = roots;
    m_bRead = false;
    Rescan();
}

void CPortList::Rescan()
{
    std::vector<SSerialDevice> devices = DiscoverSerialDevices(m_roots);
    // A look that finds what was there leaves the list alone (Windows looks every second), so
    // that an open drop-down or a selection is not disturbed.
    const bool bSame = m_bRead && SameDevices(devices, m_devices);
    m_devices.swap(devices);
    m_bRead = true;
    if (!bSame)
        Fill();
    m_watch.Watch(m_roots);
    Q_EMIT Changed();
}

const SSerialDevice* CPortList::FindByKey(const std::string& strKey) const
{
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
        [&strKey](const SSerialDevice& dev) { return dev.Key() == strKey; });
    return it == m_devices.end() ? nullptr : &*it;
}

void CPortList::KeepListed(const std::string& strKey)
{
    m_strKept = strKey;
    Fill();
}

void CPortList::Fill()
{
    m_bFilling = true;
    const int nCurrent = m_pCombo->currentIndex();
    const QString strTyped = m_pCombo->currentText();
    const bool bTyped = nCurrent >= 0 && strTyped != m_pCombo->itemText(nCurrent);
    const std::string strSelected = nCurrent >= m_nFixedItems
        ? m_pCombo->itemData(nCurrent, g_nKeyRole).toString().toStdString()
        : std::string();

    std::vector<std::pair<SSerialDevice, bool>> items;
    std::map<std::string, SSerialDevice> seen;
    for (const SSerialDevice& dev : m_devices) {
        items.emplace_back(dev, false);
        seen[dev.Key()] = dev;
    }
    for (const std::string& strKey : { m_strKept, strSelected }) {
        auto it = m_seen.find(strKey);
        if (strKey.empty() || seen.count(strKey) || it == m_seen.end())
            continue;
        items.emplace_back(it->second, true);
        seen.insert(*it);
    }
    m_seen.swap(seen);
    m_bGoneListed = items.size() > m_devices.size();

    while (m_pCombo->count() > m_nFixedItems)
        m_pCombo->removeItem(m_pCombo->count() - 1);
    int nWidest = 0;
    for (const auto& [dev, bGone] : items) {
        const QString strText = ItemText(dev, bGone);
        const int nIndex = m_pCombo->count();
        m_pCombo->addItem(strText);
        m_pCombo->setItemData(nIndex, FromStd(dev.Key()), g_nKeyRole);
        m_pCombo->setItemData(nIndex, FromStd(dev.strPath), g_nPathRole);
        const unsigned nPort = dev.comNames.empty() ? 0 : ComPortNumber(dev.comNames.front());
        m_pCombo->setItemData(nIndex, nPort, g_nPortRole);
        m_pCombo->setItemData(nIndex, ToolTip(dev), Qt::ToolTipRole);
        nWidest = std::max(nWidest, m_pCombo->fontMetrics().horizontalAdvance(strText));
    }
    // The box keeps the template's width; its drop-down shows whole names.
    m_pCombo->view()->setMinimumWidth(nWidest + 40);
    if (!strSelected.empty()) {
        const int nIndex = m_pCombo->findData(FromStd(strSelected), g_nKeyRole);
        if (nIndex >= 0 && nIndex != m_pCombo->currentIndex())
            m_pCombo->setCurrentIndex(nIndex);
    }
    // Text the operator is typing over the selection stays.
    if (bTyped && m_pCombo->currentText() != strTyped)
        m_pCombo->setEditText(strTyped);
    m_bFilling = false;
}

bool CPortList::Choice(SPortChoice& choice) const
{
    // As for the COM items: typed text counts when it names an item exactly.
    const QString strText = m_pCombo->currentText();
    int nIndex = m_pCombo->currentIndex();
    if (nIndex < 0 || strText != m_pCombo->itemText(nIndex))
        nIndex = m_pCombo->findText(strText, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (nIndex >= m_nFixedItems) {
        choice.strDevice = m_pCombo->itemData(nIndex, g_nPathRole).toString().toStdString();
        choice.strKey = m_pCombo->itemData(nIndex, g_nKeyRole).toString().toStdString();
        choice.nPortNr = m_pCombo->itemData(nIndex, g_nPortRole).toUInt();
        return true;
    }
    if (nIndex >= 0 || !strText.startsWith(QLatin1Char('/')))
        return false;
    choice.strDevice = strText.toStdString();
    const SSerialDevice* pDevice = FindSerialDevice(m_devices, choice.strDevice);
    choice.strKey = pDevice ? pDevice->Key() : std::string();
    choice.nPortNr
        = pDevice && !pDevice->comNames.empty() ? ComPortNumber(pDevice->comNames.front()) : 0;
    return true;
}
