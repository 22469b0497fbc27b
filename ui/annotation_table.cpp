#include "ui/annotation_table.h"

#include <algorithm>
#include <cstdio>
#include <queue>

namespace quillon {

namespace {

constexpr const char* kHeaders[] = {"開始", "デコーダ", "行", "テキスト"};

bool ContainsFolded(std::string_view text, const std::string& lowerNeedle) {
    if (lowerNeedle.empty()) {
        return true;
    }
    const auto it = std::search(
        text.begin(), text.end(), lowerNeedle.begin(), lowerNeedle.end(),
        [](char a, char b) { return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b; });
    return it != text.end();
}

std::string Quoted(const std::string& text, bool csv) {
    if (!csv) {
        std::string flat = text;
        std::replace(flat.begin(), flat.end(), '\t', ' ');
        std::replace(flat.begin(), flat.end(), '\n', ' ');
        return flat;
    }
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

} // namespace

CAnnotationModel::CAnnotationModel(QObject* parent) : QAbstractTableModel(parent) {}

void CAnnotationModel::SetLanes(std::vector<std::shared_ptr<const AnnotationLane>> lanes,
                                SamplePeriod period, double timeOrigin) {
    beginResetModel();
    m_lanes = std::move(lanes);
    m_period = period;
    m_timeOrigin = timeOrigin;
    m_decoders.clear();
    m_rows.clear();
    for (const auto& lane : m_lanes) {
        const auto colon = lane->label.find(": ");
        m_decoders.push_back(colon == std::string::npos ? lane->label
                                                        : lane->label.substr(0, colon));
        m_rows.push_back(colon == std::string::npos ? std::string()
                                                    : lane->label.substr(colon + 2));
    }
    // The rows' boxes merged by their first sample.
    m_all.clear();
    std::size_t total = 0;
    for (const auto& lane : m_lanes) {
        total += lane->boxes.size();
    }
    m_all.reserve(total);
    using Head = std::pair<std::int64_t, Ref>;
    const auto later = [](const Head& a, const Head& b) {
        return a.first != b.first ? a.first > b.first : a.second.lane > b.second.lane;
    };
    std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
    for (std::uint32_t l = 0; l < m_lanes.size(); ++l) {
        if (!m_lanes[l]->boxes.empty()) {
            heads.push({m_lanes[l]->boxes.front().first, Ref{l, 0}});
        }
    }
    while (!heads.empty()) {
        const Ref ref = heads.top().second;
        heads.pop();
        m_all.push_back(ref);
        const auto& boxes = m_lanes[ref.lane]->boxes;
        if (ref.box + 1 < boxes.size()) {
            heads.push({boxes[ref.box + 1].first, Ref{ref.lane, ref.box + 1}});
        }
    }
    endResetModel();
    SetFilter(m_filter);
}

void CAnnotationModel::SetFilter(const QString& filter) {
    beginResetModel();
    m_filter = filter;
    const std::string needle = filter.trimmed().toLower().toStdString();
    if (needle.empty()) {
        m_shown = m_all;
    } else {
        m_shown.clear();
        for (const Ref& ref : m_all) {
            const auto& lane = *m_lanes[ref.lane];
            if (ContainsFolded(m_decoders[ref.lane], needle) ||
                ContainsFolded(m_rows[ref.lane], needle) ||
                ContainsFolded(lane.texts->First(lane.boxes[ref.box].texts), needle)) {
                m_shown.push_back(ref);
            }
        }
    }
    endResetModel();
}

int CAnnotationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CAnnotationModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

const LaneBox& CAnnotationModel::BoxOf(const Ref& ref) const {
    return m_lanes[ref.lane]->boxes[ref.box];
}

std::string CAnnotationModel::CellText(const Ref& ref, int column) const {
    switch (column) {
    case kStart:
        return FormatDuration(
            m_period.SecondsOf(static_cast<double>(BoxOf(ref).first) - m_timeOrigin));
    case kDecoder:
        return m_decoders[ref.lane];
    case kRow:
        return m_rows[ref.lane];
    default:
        return std::string(m_lanes[ref.lane]->texts->First(BoxOf(ref).texts));
    }
}

QString CAnnotationModel::Cell(const Ref& ref, int column) const {
    return QString::fromStdString(CellText(ref, column));
}

QVariant CAnnotationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_shown.size())) {
        return {};
    }
    const Ref& ref = m_shown[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        return Cell(ref, index.column());
    }
    if (role == Qt::TextAlignmentRole && index.column() == kStart) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant CAnnotationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= kColumns) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return QString::fromUtf8(kHeaders[section]);
}

SampleRange CAnnotationModel::RangeOf(int row) const {
    if (row < 0 || row >= static_cast<int>(m_shown.size())) {
        return {};
    }
    const LaneBox& box = BoxOf(m_shown[static_cast<std::size_t>(row)]);
    return {box.first, std::max(box.end, box.first + 1)};
}

int CAnnotationModel::RowAtOrAfter(std::int64_t sample) const {
    const auto it = std::lower_bound(
        m_shown.begin(), m_shown.end(), sample,
        [this](const Ref& ref, std::int64_t value) { return BoxOf(ref).first < value; });
    return static_cast<int>(it - m_shown.begin());
}

std::vector<int> CAnnotationModel::RowsStartingIn(std::int64_t first, std::int64_t end) const {
    std::vector<int> rows;
    for (int row = RowAtOrAfter(first); row < static_cast<int>(m_shown.size()) &&
                                        BoxOf(m_shown[static_cast<std::size_t>(row)]).first < end;
         ++row) {
        rows.push_back(row);
    }
    return rows;
}

std::string CAnnotationModel::Text(const std::vector<int>& rows, bool csv) const {
    const char separator = csv ? ',' : '\t';
    std::string text;
    // CSV gives the start as a sample number and in seconds, for other tools.
    if (csv) {
        text = "sample,start_s,decoder,row,text\n";
    } else {
        for (int column = 0; column < kColumns; ++column) {
            text += std::string(kHeaders[column]) + (column + 1 < kColumns ? "\t" : "\n");
        }
    }
    for (const int row : rows) {
        if (row < 0 || row >= static_cast<int>(m_shown.size())) {
            continue;
        }
        const Ref& ref = m_shown[static_cast<std::size_t>(row)];
        if (csv) {
            const std::int64_t first = BoxOf(ref).first;
            char seconds[40];
            std::snprintf(seconds, sizeof seconds, "%.12g",
                          m_period.SecondsOf(static_cast<double>(first) - m_timeOrigin));
            text += std::to_string(first) + separator + seconds + separator;
        } else {
            text += CellText(ref, kStart) + separator;
        }
        for (int column = kDecoder; column < kColumns; ++column) {
            text += Quoted(CellText(ref, column), csv) + (column + 1 < kColumns ? separator : '\n');
        }
    }
    return text;
}

} // namespace quillon
