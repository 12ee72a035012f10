#include "ui/viewer/SeriesListWidget.h"

#include "dicom/DicomText.h"
#include "viewer/FrameDecoder.h"
#include "viewer/PixelProportions.h"

#include <QDate>
#include <QFont>
#include <QFutureWatcher>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QtConcurrent/QtConcurrentRun>

namespace velmaris {

namespace {

constexpr int kSeriesUidRole = Qt::UserRole;

QPixmap placeholderPixmap()
{
    QPixmap pixmap(SeriesListWidget::kIconSide, SeriesListWidget::kIconSide);
    pixmap.fill(QColor(0x2a, 0x2a, 0x2a));
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x55, 0x55, 0x55));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return pixmap;
}

} // namespace

SeriesListWidget::SeriesListWidget(QWidget *parent)
    : QListWidget(parent)
    , m_watcher(new QFutureWatcher<ThumbnailResult>(this))
{
    // Captions under the thumbnails, one column: the list is narrow beside the
    // panels, and captions beside the icons were cut to a few letters. Each
    // line that is still too long ends in an ellipsis; the tool tip holds it
    // whole.
    setViewMode(QListView::IconMode);
    setFlow(QListView::TopToBottom);
    setWrapping(false);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setIconSize(QSize(kIconSide, kIconSide));
    setGridSize(QSize(kIconSide + 36, kIconSide + 3 * fontMetrics().lineSpacing() + 12));
    setSpacing(2);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Series leave the list only as drags onto a panel; nothing is dropped here.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);

    connect(m_watcher, &QFutureWatcher<ThumbnailResult>::finished, this,
            &SeriesListWidget::onThumbnailDone);
    const auto activate = [this](QListWidgetItem *item) {
        const QString uid = item ? item->data(kSeriesUidRole).toString() : QString();
        if (!uid.isEmpty())
            emit seriesActivated(uid);
    };
    connect(this, &QListWidget::itemClicked, this, activate);
    connect(this, &QListWidget::itemActivated, this, activate);
}

SeriesListWidget::~SeriesListWidget() = default;

QString SeriesListWidget::seriesItemText(const SeriesListEntry &entry)
{
    const QString description = entry.description.isEmpty()
                                    ? QStringLiteral("(без описания)")
                                    : entry.description;
    return QStringLiteral("%1\n%2\n%3 срез.").arg(entry.label, description).arg(entry.slices.size());
}

QString SeriesListWidget::comparisonHeaderText(const QString &studyDate, const QString &patientName,
                                               const QString &description)
{
    const QString shownDate = dicom::displayDicomDate(studyDate);
    const QString name = dicom::displayPersonName(patientName);
    const QString shownData = name.isEmpty() ? QStringLiteral("(без имени)") : name;
    const QString shownDescription = description.isEmpty() ? QStringLiteral("(без описания)")
                                                           : description;
    return QStringLiteral("── %1 · %2 ──\n%3").arg(shownDate, shownData, shownDescription);
}

void SeriesListWidget::setSeries(const QList<SeriesListEntry> &study)
{
    // Results still in flight belong to the old list; the new generation makes
    // onThumbnailDone drop them instead of painting them onto the new items.
    ++m_generation;
    m_pending.clear();
    m_ready.clear();
    m_finishPosted = false;
    clear();
    appendSeriesItems(study);
    startNextThumbnail();
    emitFinishedIfIdle();
}

void SeriesListWidget::addComparison(const QString &headerText, const QList<SeriesListEntry> &series)
{
    auto *header = new QListWidgetItem(headerText);
    // A header only labels the series below it: it cannot be selected or dragged.
    header->setFlags(Qt::ItemIsEnabled);
    header->setTextAlignment(Qt::AlignCenter);
    QFont font = header->font();
    font.setBold(true);
    header->setFont(font);
    header->setBackground(palette().alternateBase());
    addItem(header);
    appendSeriesItems(series);
    startNextThumbnail();
    emitFinishedIfIdle();
}

QString SeriesListWidget::seriesUidAt(int row) const
{
    const QListWidgetItem *entry = item(row);
    return entry ? entry->data(kSeriesUidRole).toString() : QString();
}

int SeriesListWidget::rowOfSeries(const QString &seriesUid) const
{
    if (seriesUid.isEmpty())
        return -1;
    for (int row = 0; row < count(); ++row) {
        if (item(row)->data(kSeriesUidRole).toString() == seriesUid)
            return row;
    }
    return -1;
}

bool SeriesListWidget::thumbnailReady(const QString &seriesUid) const
{
    return m_ready.value(seriesUid, false);
}

QStringList SeriesListWidget::mimeTypes() const
{
    return {QString::fromLatin1(kSeriesMimeType)};
}

QMimeData *SeriesListWidget::mimeData(const QList<QListWidgetItem *> &items) const
{
    // A panel takes one series per drop, so the first series item is the one carried.
    for (const QListWidgetItem *entry : items) {
        const QString uid = entry ? entry->data(kSeriesUidRole).toString() : QString();
        if (uid.isEmpty())
            continue;
        auto *data = new QMimeData;
        data->setData(QString::fromLatin1(kSeriesMimeType), uid.toUtf8());
        return data;
    }
    return nullptr;
}

void SeriesListWidget::appendSeriesItems(const QList<SeriesListEntry> &series)
{
    const QIcon placeholder(placeholderPixmap());
    for (const SeriesListEntry &entry : series) {
        auto *listItem = new QListWidgetItem(placeholder, seriesItemText(entry));
        listItem->setData(kSeriesUidRole, entry.seriesUid);
        listItem->setToolTip(listItem->text());
        listItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        addItem(listItem);
        if (entry.slices.isEmpty())
            continue;
        const db::SliceRef &middle = entry.slices.at(entry.slices.size() / 2);
        m_pending.append({entry.seriesUid, middle.file_path, middle.frame_index, middle.pixel_spacing_y,
                          middle.pixel_spacing_x});
    }
}

void SeriesListWidget::startNextThumbnail()
{
    // One render at a time: renderFrame serialises its callers anyway, and a
    // single job in flight keeps the pool free for the panels' own work.
    if (m_busy || m_pending.isEmpty())
        return;
    const ThumbnailJob job = m_pending.takeFirst();
    const quint64 generation = m_generation;
    m_busy = true;
    m_watcher->setFuture(QtConcurrent::run([job, generation]() {
        ThumbnailResult result;
        result.seriesUid = job.seriesUid;
        result.generation = generation;
        const render::RenderedFrame frame =
            render::renderFrame(job.path, job.frameIndex, render::WindowRequest{});
        if (frame.ok && !frame.image.isNull()) {
            const double aspect = render::pixelAspect(job.rowSpacing, job.columnSpacing, frame.pixelAspectRatio);
            result.image = render::withTrueProportions(frame.image, aspect)
                               .scaled(kIconSide, kIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            result.ok = true;
        }
        return result;
    }));
}

void SeriesListWidget::onThumbnailDone()
{
    m_busy = false;
    const ThumbnailResult result = m_watcher->result();
    if (result.generation == m_generation && result.ok) {
        const int row = rowOfSeries(result.seriesUid);
        if (row >= 0) {
            item(row)->setIcon(QIcon(QPixmap::fromImage(result.image)));
            m_ready.insert(result.seriesUid, true);
        }
    }
    startNextThumbnail();
    emitFinishedIfIdle();
}

void SeriesListWidget::emitFinishedIfIdle()
{
    if (m_busy || !m_pending.isEmpty() || m_finishPosted)
        return;
    // Delivered from the event loop so that a list without thumbnails to wait
    // for still reports after setSeries has returned, like one that had some;
    // setSeries and addComparison in one go then report once.
    m_finishPosted = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation]() {
            if (generation != m_generation)
                return; // the list was replaced; its own report is posted separately
            m_finishPosted = false;
            if (!m_busy && m_pending.isEmpty())
                emit thumbnailsFinished();
        },
        Qt::QueuedConnection);
}

} // namespace velmaris
