#pragma once

#include "db/SliceRef.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QListWidget>
#include <QString>

template<typename T>
class QFutureWatcher;

namespace velmaris {

struct SeriesListEntry {            // one series as the list shows it
    QString seriesUid;
    QString label;                  // series label as the window builds it (e.g. "CT №3")
    QString description;            // empty → "(без описания)"
    QList<db::SliceRef> slices;     // ordered; the middle one gives the icon
};

// The viewer's list of series: one item per series with a 120 × 120 thumbnail
// of its middle slice, draggable onto an image panel. The list is filled at
// once with placeholder icons; the thumbnails are rendered one at a time on
// the thread pool and replace the placeholders as they arrive.
class SeriesListWidget : public QListWidget {
    Q_OBJECT
public:
    // The MIME type a dragged series carries (its Series Instance UID).
    static constexpr const char *kSeriesMimeType = "application/x-dicom-series-uid";
    static constexpr int kIconSide = 120;

    explicit SeriesListWidget(QWidget *parent = nullptr);
    ~SeriesListWidget() override;

    // Replaces the list: the study's series, then (optional) a comparison
    // study's header item and its series.
    void setSeries(const QList<SeriesListEntry> &study);
    void addComparison(const QString &headerText, const QList<SeriesListEntry> &series);
    QString seriesUidAt(int row) const;   // empty for header items
    int rowOfSeries(const QString &seriesUid) const;  // -1 when absent
    // True once the series' thumbnail has been rendered and shown (a series
    // whose middle slice cannot be drawn keeps its placeholder: false).
    bool thumbnailReady(const QString &seriesUid) const;

    // "── dd.MM.yyyy · name ──\ndescription" for a comparison study;
    // studyDate is "yyyyMMdd" (an unparsable date is shown as stored), the
    // stored DICOM name is shown with blanks for its "^", and
    // "(без имени)" / "(без описания)" stand in for empty values.
    static QString comparisonHeaderText(const QString &studyDate, const QString &patientName,
                                        const QString &description);
    // "label\ndescription\nN срез." as a series item shows it.
    static QString seriesItemText(const SeriesListEntry &entry);

signals:
    void seriesActivated(const QString &seriesUid);   // click or activation of a series item
    void thumbnailsFinished();                        // all icons of the current list are in

protected:
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QList<QListWidgetItem *> &items) const override;

private:
    struct ThumbnailJob {
        QString seriesUid;
        QString path;
        int frameIndex = 0;
        double rowSpacing = 0.0;
        double columnSpacing = 0.0;
    };
    struct ThumbnailResult {
        QString seriesUid;
        QImage image;
        quint64 generation = 0;
        bool ok = false;
    };

    void appendSeriesItems(const QList<SeriesListEntry> &series);
    void startNextThumbnail();
    void onThumbnailDone();
    void emitFinishedIfIdle();

    QFutureWatcher<ThumbnailResult> *m_watcher = nullptr;
    QList<ThumbnailJob> m_pending;
    QHash<QString, bool> m_ready;
    quint64 m_generation = 0;
    bool m_busy = false;
    bool m_finishPosted = false;
};

} // namespace velmaris
