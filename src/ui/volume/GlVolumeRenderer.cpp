#include "ui/volume/GlVolumeRenderer.h"

#include <QFile>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QSurfaceFormat>

#include <algorithm>
#include <array>
#include <cmath>

static void initVolumeShaderResources()
{
    // The shaders live in a static library: its resources need a nudge.
    Q_INIT_RESOURCE(volumeshaders);
}

namespace render {

namespace {

// GL_NVX_gpu_memory_info and GL_ATI_meminfo, in KiB.
constexpr GLenum gpuMemoryAvailableNvx = 0x9049;
constexpr GLenum textureFreeMemoryAti = 0x87FC;
constexpr int maskSide = 512;

QString shaderSource(const QString &name)
{
    QFile file(QStringLiteral(":/volume/shaders/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    const QString include = QStringLiteral("#include \"raycommon.glsl\"");
    if (text.contains(include))
        text.replace(include, shaderSource(QStringLiteral("raycommon.glsl")));
    return text;
}

// The volume averaged down by whole factors along each axis; the extent in
// millimetres stays.
Volume downsampled(const Volume &volume, const std::array<int, 3> &factor)
{
    Volume out;
    out.width = (volume.width + factor[0] - 1) / factor[0];
    out.height = (volume.height + factor[1] - 1) / factor[1];
    out.depth = (volume.depth + factor[2] - 1) / factor[2];
    out.spacingX = usableSpacing(volume.spacingX) * volume.width / out.width;
    out.spacingY = usableSpacing(volume.spacingY) * volume.height / out.height;
    out.spacingZ = usableSpacing(volume.spacingZ) * volume.depth / out.depth;
    out.minValue = volume.minValue;
    out.maxValue = volume.maxValue;
    out.voxels.assign(std::size_t(out.width) * std::size_t(out.height) * std::size_t(out.depth), 0.0f);
    for (int z = 0; z < out.depth; ++z)
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                double sum = 0.0;
                int count = 0;
                for (int dz = 0; dz < factor[2] && z * factor[2] + dz < volume.depth; ++dz)
                    for (int dy = 0; dy < factor[1] && y * factor[1] + dy < volume.height; ++dy)
                        for (int dx = 0; dx < factor[0] && x * factor[0] + dx < volume.width; ++dx) {
                            sum += voxelAt(volume, x * factor[0] + dx, y * factor[1] + dy, z * factor[2] + dz);
                            ++count;
                        }
                out.voxels[(std::size_t(z) * std::size_t(out.height) + std::size_t(y)) * std::size_t(out.width)
                           + std::size_t(x)] = float(sum / std::max(count, 1));
            }
    return out;
}

} // namespace

GlVolumeRenderer::GlVolumeRenderer() = default;

GlVolumeRenderer::~GlVolumeRenderer() = default;

bool GlVolumeRenderer::initialize(QString &error)
{
    initVolumeShaderResources();
    if (!initializeOpenGLFunctions()) {
        const QOpenGLContext *context = QOpenGLContext::currentContext();
        error = QStringLiteral("Драйвер не даёт OpenGL 3.3 core (получено: %1)")
                    .arg(context ? QStringLiteral("%1.%2").arg(context->format().majorVersion())
                                       .arg(context->format().minorVersion())
                                 : QStringLiteral("нет контекста"));
        return false;
    }
    m_mip = std::make_unique<QOpenGLShaderProgram>();
    m_vrt = std::make_unique<QOpenGLShaderProgram>();
    m_slice = std::make_unique<QOpenGLShaderProgram>();
    m_line = std::make_unique<QOpenGLShaderProgram>();
    if (!compile(*m_mip, QStringLiteral("fullscreen.vert"), QStringLiteral("mip.frag"), QStringLiteral("mip.frag"), error)
        || !compile(*m_vrt, QStringLiteral("fullscreen.vert"), QStringLiteral("vrt.frag"), QStringLiteral("vrt.frag"), error)
        || !compile(*m_slice, QStringLiteral("fullscreen.vert"), QStringLiteral("slice.frag"), QStringLiteral("slice.frag"),
                    error)
        || !compile(*m_line, QStringLiteral("line.vert"), QStringLiteral("line.frag"), QStringLiteral("line.frag"), error))
        return false;
    glGenVertexArrays(1, &m_vertexArray);
    glGenBuffers(1, &m_lineBuffer);
    glGenTextures(1, &m_transferTexture);
    glGenTextures(1, &m_maskTexture);
    glBindTexture(GL_TEXTURE_1D, m_transferTexture);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D_ARRAY, m_maskTexture);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const quint8 open = 255;
    glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_R8, 1, 1, 1, 0, GL_RED, GL_UNSIGNED_BYTE, &open);
    m_initialized = true;
    return true;
}

bool GlVolumeRenderer::compile(QOpenGLShaderProgram &program, const QString &vertex, const QString &fragment,
                               const QString &name, QString &error)
{
    auto failed = [&](const QString &shader, const QString &log) {
        error = QStringLiteral("Ошибка компиляции шейдера \"%1\": %2")
                    .arg(shader, log.trimmed().isEmpty() ? QStringLiteral("(нет подробностей от компилятора шейдеров)")
                                                         : log.trimmed());
        return false;
    };
    if (!program.addShaderFromSourceCode(QOpenGLShader::Vertex, shaderSource(vertex)))
        return failed(vertex, program.log());
    if (!program.addShaderFromSourceCode(QOpenGLShader::Fragment, shaderSource(fragment)))
        return failed(name, program.log());
    if (!program.link())
        return failed(name, program.log());
    return true;
}

int GlVolumeRenderer::maxTextureSize()
{
    GLint size = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &size);
    return std::max(int(size), 1);
}

bool GlVolumeRenderer::setVolume(const Volume &volume, QString &error, QString &notice)
{
    notice.clear();
    if (!m_initialized || !volume.isValid()
        || volume.voxels.size() < std::size_t(volume.width) * std::size_t(volume.height) * std::size_t(volume.depth)) {
        error = QStringLiteral("Объём пуст или устройство OpenGL не готово.");
        return false;
    }
    const int limit = maxTextureSize();
    std::array<int, 3> counts{volume.width, volume.height, volume.depth};
    std::array<int, 3> factor{1, 1, 1};
    for (int a = 0; a < 3; ++a)
        factor[a] = (counts[a] + limit - 1) / limit;
    // Leave a quarter of the reported free memory to everything else.
    quint64 freeBytes = 0;
    GLint kib[4] = {0, 0, 0, 0};
    const QOpenGLContext *context = QOpenGLContext::currentContext();
    if (context && context->hasExtension("GL_NVX_gpu_memory_info")) {
        glGetIntegerv(gpuMemoryAvailableNvx, kib);
        freeBytes = quint64(kib[0]) * 1024;
    } else if (context && context->hasExtension("GL_ATI_meminfo")) {
        glGetIntegerv(textureFreeMemoryAti, kib);
        freeBytes = quint64(kib[0]) * 1024;
    }
    auto bytesFor = [&] {
        quint64 bytes = 4;
        for (int a = 0; a < 3; ++a)
            bytes *= quint64((counts[a] + factor[a] - 1) / factor[a]);
        return bytes;
    };
    auto largestAxis = [&] {
        int best = 0;
        for (int a = 1; a < 3; ++a)
            if ((counts[a] + factor[a] - 1) / factor[a] > (counts[best] + factor[best] - 1) / factor[best])
                best = a;
        return best;
    };
    while (freeBytes > 0 && bytesFor() > freeBytes * 3 / 4 && factor[largestAxis()] < counts[largestAxis()])
        ++factor[largestAxis()];

    if (m_volumeTexture == 0)
        glGenTextures(1, &m_volumeTexture);
    glBindTexture(GL_TEXTURE_3D, m_volumeTexture);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
        glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    while (glGetError() != GL_NO_ERROR) {
    }
    // An upload the driver refuses for memory is retried smaller.
    for (int attempt = 0; attempt < 6; ++attempt) {
        const bool reduced = factor != std::array<int, 3>{1, 1, 1};
        Volume copy;
        if (reduced)
            copy = downsampled(volume, factor);
        const Volume &upload = reduced ? copy : volume;
        glTexImage3D(GL_TEXTURE_3D, 0, GL_R32F, upload.width, upload.height, upload.depth, 0, GL_RED, GL_FLOAT,
                     upload.voxels.data());
        const GLenum status = glGetError();
        if (status == GL_NO_ERROR) {
            m_geometry = Volume();
            m_geometry.width = upload.width;
            m_geometry.height = upload.height;
            m_geometry.depth = upload.depth;
            m_geometry.spacingX = upload.spacingX;
            m_geometry.spacingY = upload.spacingY;
            m_geometry.spacingZ = upload.spacingZ;
            if (reduced)
                notice = QStringLiteral("Объём %1×%2×%3 не помещается в видеокарту (предел %4 по стороне) — "
                                        "показана уменьшенная копия %5×%6×%7")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth)
                             .arg(limit)
                             .arg(upload.width)
                             .arg(upload.height)
                             .arg(upload.depth);
            return true;
        }
        if (status != GL_OUT_OF_MEMORY) {
            error = QStringLiteral("Не удалось создать 3D-текстуру объёма (код 0x%1).")
                        .arg(quint32(status), 8, 16, QLatin1Char('0'));
            break;
        }
        factor[largestAxis()] *= 2;
    }
    if (error.isEmpty())
        error = QStringLiteral("Не хватает памяти видеокарты для объёма %1×%2×%3.")
                    .arg(volume.width)
                    .arg(volume.height)
                    .arg(volume.depth);
    glDeleteTextures(1, &m_volumeTexture);
    m_volumeTexture = 0;
    return false;
}

void GlVolumeRenderer::uploadMasks(const VolumeCutOuts &cutOuts)
{
    QList<qint64> keys;
    for (const VolumeCutOut &cutOut : cutOuts.items())
        keys.append(cutOut.mask.cacheKey());
    if (keys == m_maskKeys)
        return;
    m_maskKeys = keys;
    glBindTexture(GL_TEXTURE_2D_ARRAY, m_maskTexture);
    if (keys.isEmpty())
        return;
    QByteArray layers;
    for (const VolumeCutOut &cutOut : cutOuts.items()) {
        const QImage mask = cutOut.mask.convertToFormat(QImage::Format_Grayscale8)
                                .scaled(maskSide, maskSide, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        for (int row = 0; row < maskSide; ++row)
            layers.append(reinterpret_cast<const char *>(mask.constScanLine(row)), maskSide);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_R8, maskSide, maskSide, GLsizei(keys.size()), 0, GL_RED,
                 GL_UNSIGNED_BYTE, layers.constData());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

void GlVolumeRenderer::setRayUniforms(QOpenGLShaderProgram &program, const VolumeRenderParameters &parameters,
                                      const VolumeRayGeometry &geometry, const QSize &viewport)
{
    const VolumeCameraState &camera = parameters.camera;
    program.setUniformValue("volumeTexture", 0);
    program.setUniformValue("cropMasks", 2);
    program.setUniformValue("viewportSize", QVector2D(float(viewport.width()), float(viewport.height())));
    program.setUniformValue("cameraDir", camera.direction.normalized());
    program.setUniformValue("cameraRight", camera.right.normalized());
    program.setUniformValue("cameraUp", camera.up.normalized());
    program.setUniformValue("volumeExtentMm", geometry.extentMm);
    program.setUniformValue("voxelCount", QVector3D(float(m_geometry.width), float(m_geometry.height),
                                                    float(m_geometry.depth)));
    program.setUniformValue("halfExtentMm", float(geometry.halfExtentMm));
    program.setUniformValue("rayStartMm", float(geometry.rayStartMm));
    program.setUniformValue("rayLengthMm", float(geometry.rayLengthMm));
    program.setUniformValue("numSteps", geometry.steps);
    program.setUniformValue("panU", float(camera.panU));
    program.setUniformValue("panV", float(camera.panV));
    program.setUniformValue("perspectiveEnabled", parameters.perspective ? 1 : 0);
    program.setUniformValue("cameraPosMm", parameters.cameraPosMm);
    program.setUniformValue("fovDeg", float(std::clamp(parameters.fovDeg, 1.0, 170.0)));
    const auto &cutOuts = parameters.cutOuts.items();
    const int count = std::min(int(cutOuts.size()), VolumeCutOuts::limit);
    program.setUniformValue("cropCount", count);
    QVector3D rights[VolumeCutOuts::limit], ups[VolumeCutOuts::limit];
    GLfloat halves[VolumeCutOuts::limit] = {}, pansU[VolumeCutOuts::limit] = {}, pansV[VolumeCutOuts::limit] = {};
    for (int i = 0; i < count; ++i) {
        rights[i] = cutOuts[std::size_t(i)].right;
        ups[i] = cutOuts[std::size_t(i)].up;
        halves[i] = float(cutOuts[std::size_t(i)].halfExtentMm);
        pansU[i] = float(cutOuts[std::size_t(i)].panU);
        pansV[i] = float(cutOuts[std::size_t(i)].panV);
    }
    program.setUniformValueArray("cropRight", rights, VolumeCutOuts::limit);
    program.setUniformValueArray("cropUp", ups, VolumeCutOuts::limit);
    program.setUniformValueArray("cropHalfExtentMm", halves, VolumeCutOuts::limit, 1);
    program.setUniformValueArray("cropPanU", pansU, VolumeCutOuts::limit, 1);
    program.setUniformValueArray("cropPanV", pansV, VolumeCutOuts::limit, 1);
}

void GlVolumeRenderer::render(const VolumeRenderParameters &parameters, const QSize &viewport, int *steps)
{
    glViewport(0, 0, viewport.width(), viewport.height());
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!m_initialized || m_volumeTexture == 0) {
        if (steps)
            *steps = 0;
        return;
    }
    const VolumeRayGeometry geometry = volumeRayGeometry(m_geometry, parameters);
    if (steps)
        *steps = geometry.steps;
    uploadMasks(parameters.cutOuts);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_3D, m_volumeTexture);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D_ARRAY, m_maskTexture);
    const VolumeCameraState &camera = parameters.camera;
    QOpenGLShaderProgram *program = nullptr;
    if (parameters.mode == ProjectionMode::Vrt) {
        const double huMin = camera.level - camera.width / 2.0;
        const double huMax = camera.level + camera.width / 2.0;
        const auto texels = buildTransferTexture(parameters.preset, huMin, huMax);
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_1D, m_transferTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA8, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        program = m_vrt.get();
        program->bind();
        setRayUniforms(*program, parameters, geometry, viewport);
        program->setUniformValue("transferTexture", 1);
        program->setUniformValue("huMin", float(huMin));
        program->setUniformValue("huMax", float(huMax));
        program->setUniformValue("enableShading", parameters.shading && !parameters.interactive ? 1 : 0);
        program->setUniformValue("densityMin", float(std::max(parameters.densityMin, -1e30)));
        program->setUniformValue("densityMax", float(std::min(parameters.densityMax, 1e30)));
    } else {
        program = m_mip.get();
        program->bind();
        setRayUniforms(*program, parameters, geometry, viewport);
        program->setUniformValue("windowCenter", float(camera.level));
        program->setUniformValue("windowWidth", float(camera.width));
        program->setUniformValue("mode", int(parameters.mode));
    }
    glBindVertexArray(m_vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glBindVertexArray(0);
    program->release();
    glActiveTexture(GL_TEXTURE0);
}

void GlVolumeRenderer::drawOutline(const QList<QPointF> &points, const QSize &viewport, bool closed)
{
    if (!m_initialized || points.size() < 2)
        return;
    QList<GLfloat> coordinates;
    for (const QPointF &point : points)
        coordinates << GLfloat(point.x()) << GLfloat(point.y());
    glViewport(0, 0, viewport.width(), viewport.height());
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    m_line->bind();
    m_line->setUniformValue("viewportSize", QVector2D(float(viewport.width()), float(viewport.height())));
    glBindVertexArray(m_vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, m_lineBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(coordinates.size() * qsizetype(sizeof(GLfloat))), coordinates.constData(),
                 GL_STREAM_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glDrawArrays(closed ? GL_LINE_LOOP : GL_LINE_STRIP, 0, GLsizei(points.size()));
    glDisableVertexAttribArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
    m_line->release();
    glDisable(GL_BLEND);
}

void GlVolumeRenderer::release()
{
    if (!m_initialized)
        return;
    glDeleteTextures(1, &m_volumeTexture);
    glDeleteTextures(1, &m_transferTexture);
    glDeleteTextures(1, &m_maskTexture);
    glDeleteBuffers(1, &m_lineBuffer);
    glDeleteVertexArrays(1, &m_vertexArray);
    m_volumeTexture = m_transferTexture = m_maskTexture = m_lineBuffer = m_vertexArray = 0;
    m_mip.reset();
    m_vrt.reset();
    m_slice.reset();
    m_line.reset();
    m_maskKeys.clear();
    m_initialized = false;
}

namespace {

QSurfaceFormat coreFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

} // namespace

QSurfaceFormat openGlCoreFormat()
{
    return coreFormat();
}

bool openGlAvailable(QString &error)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        error = QStringLiteral("нет графической среды (дисплея) для контекста OpenGL");
        return false;
    }
    QOpenGLContext context;
    context.setFormat(coreFormat());
    if (!context.create()) {
        error = QStringLiteral("не удалось создать контекст OpenGL 3.3 core (платформа «%1»)")
                    .arg(QGuiApplication::platformName());
        return false;
    }
    const QSurfaceFormat got = context.format();
    if (got.version() < qMakePair(3, 3) || got.profile() != QSurfaceFormat::CoreProfile) {
        error = QStringLiteral("драйвер даёт только OpenGL %1.%2 без профиля core")
                    .arg(got.majorVersion())
                    .arg(got.minorVersion());
        return false;
    }
    return true;
}

bool renderVolumeWithOpenGl(const Volume &volume, const VolumeRenderParameters &parameters, const QSize &size,
                            QImage &image, int *steps, QString &error, QString &notice)
{
    if (!openGlAvailable(error))
        return false;
    QOpenGLContext context;
    context.setFormat(coreFormat());
    QOffscreenSurface surface;
    surface.setFormat(coreFormat());
    surface.create();
    if (!context.create() || !surface.isValid() || !context.makeCurrent(&surface)) {
        error = QStringLiteral("не удалось сделать контекст OpenGL текущим");
        return false;
    }
    bool ok = false;
    {
        QOpenGLFramebufferObject target(size);
        GlVolumeRenderer renderer;
        if (renderer.initialize(error) && renderer.setVolume(volume, error, notice) && target.bind()) {
            renderer.render(parameters, size, steps);
            context.functions()->glFinish();
            image = target.toImage(true).convertToFormat(QImage::Format_RGB32);
            target.release();
            ok = true;
        }
        renderer.release();
    }
    context.doneCurrent();
    return ok;
}

} // namespace render
