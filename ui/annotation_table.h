// CAnnotationModel: the decoders' annotations as one table (start time, decoder, row, text),
// in the order of their start, filtered by a text. It indexes the shared annotation rows in
// place (8 bytes an annotation), so millions of them cost no copies of their texts.
#pragma once

#include "capture/capture.h"
#include "decode/annotation_layout.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

class CAnnotationModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kStart, kDecoder, kRow, kText, kColumns };

    explicit CAnnotationModel(QObject* parent = nullptr);

    /// New rows (a decode finished); period and origin turn samples into the times shown.
    void SetLanes(std::vector<std::shared_ptr<const AnnotationLane>> lanes, SamplePeriod period,
                  double timeOrigin);
    /// Shows only the annotations whose decoder, row or text contains filter (any case).
    void SetFilter(const QString& filter);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    /// Samples [first, end) of the annotation in a row shown.
    [[nodiscard]] SampleRange RangeOf(int row) const;
    /// The first row shown that starts at or after sample.
    [[nodiscard]] int RowAtOrAfter(std::int64_t sample) const;
    /// The rows shown as tab-separated lines (for the clipboard) or CSV, with a header line.
    [[nodiscard]] std::string Text(const std::vector<int>& rows, bool csv) const;
    /// The rows shown whose annotations start in [first, end).
    [[nodiscard]] std::vector<int> RowsStartingIn(std::int64_t first, std::int64_t end) const;

private:
    struct Ref {
        std::uint32_t lane;
        std::uint32_t box;
    };
    [[nodiscard]] const LaneBox& BoxOf(const Ref& ref) const;
    [[nodiscard]] QString Cell(const Ref& ref, int column) const;
    [[nodiscard]] std::string CellText(const Ref& ref, int column) const;

    std::vector<std::shared_ptr<const AnnotationLane>> m_lanes;
    std::vector<std::string> m_decoders; ///< per lane: "UART"
    std::vector<std::string> m_rows;     ///< per lane: "RX"
    std::vector<Ref> m_all;              ///< by start sample
    std::vector<Ref> m_shown;            ///< m_all filtered
    QString m_filter;
    SamplePeriod m_period;
    double m_timeOrigin = 0.0;
};

} // namespace quillon
