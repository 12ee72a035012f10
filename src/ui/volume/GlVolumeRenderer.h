#pragma once

#include "volume/Volume.h"
#include "volume/VolumeRenderParameters.h"

#include <QImage>
#include <QList>
#include <QOpenGLFunctions_3_3_Core>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QSurfaceFormat>

#include <memory>

class QOpenGLShaderProgram;

namespace render {

// The ray casting passes on the GPU through OpenGL 3.3 core: the volume as one
// R32F 3D texture uploaded once, the transfer function as 256 texels, the
// cut-out masks as layers of a 2D array texture. Every call needs the context
// it was initialised in to be current; release() before that context goes.
class GlVolumeRenderer : protected QOpenGLFunctions_3_3_Core
{
public:
    GlVolumeRenderer();
    ~GlVolumeRenderer();
    GlVolumeRenderer(const GlVolumeRenderer &) = delete;
    GlVolumeRenderer &operator=(const GlVolumeRenderer &) = delete;

    // Resolves the functions and compiles the shaders; false with the
    // driver's or the compiler's message.
    bool initialize(QString &error);
    bool isInitialized() const { return m_initialized; }

    // Uploads the volume. When it is larger than the driver's 3D texture
    // limit on an axis, or does not fit the GPU's reported free memory, a copy
    // averaged down along the offending axes is uploaded instead and `notice`
    // says so. False on an empty volume or a failed upload.
    bool setVolume(const Volume &volume, QString &error, QString &notice);
    bool hasVolume() const { return m_volumeTexture != 0; }
    // The driver's largest 3D texture side.
    int maxTextureSize();

    // Draws one frame into the bound framebuffer of `viewport` pixels.
    void render(const VolumeRenderParameters &parameters, const QSize &viewport, int *steps = nullptr);
    // The cut-out outline being drawn, in widget pixels.
    void drawOutline(const QList<QPointF> &points, const QSize &viewport, bool closed);
    // Deletes the GL objects (context current).
    void release();

private:
    bool compile(QOpenGLShaderProgram &program, const QString &vertex, const QString &fragment, const QString &name,
                 QString &error);
    void uploadMasks(const VolumeCutOuts &cutOuts);
    void setRayUniforms(QOpenGLShaderProgram &program, const VolumeRenderParameters &parameters,
                        const VolumeRayGeometry &geometry, const QSize &viewport);

    bool m_initialized = false;
    std::unique_ptr<QOpenGLShaderProgram> m_mip;
    std::unique_ptr<QOpenGLShaderProgram> m_vrt;
    std::unique_ptr<QOpenGLShaderProgram> m_slice;
    std::unique_ptr<QOpenGLShaderProgram> m_line;
    GLuint m_vertexArray = 0;
    GLuint m_lineBuffer = 0;
    GLuint m_volumeTexture = 0;
    GLuint m_transferTexture = 0;
    GLuint m_maskTexture = 0;
    QList<qint64> m_maskKeys;
    Volume m_geometry; // counts and spacings of the uploaded texture (no voxels)
};

// One picture rendered headless with an offscreen surface and a context of
// its own; false with the reason when no OpenGL 3.3 core context can be made
// (no GUI application, no display, no driver).
bool renderVolumeWithOpenGl(const Volume &volume, const VolumeRenderParameters &parameters, const QSize &size,
                            QImage &image, int *steps, QString &error, QString &notice);

// Whether an OpenGL 3.3 core context can be made here; the reason when not.
bool openGlAvailable(QString &error);

// The OpenGL 3.3 core format every context of the ray caster asks for.
QSurfaceFormat openGlCoreFormat();

} // namespace render
