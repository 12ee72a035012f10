#version 330 core
// MIP family: 0 maximum, 1 minimum, 2 mean, windowed to grey.
#include "raycommon.glsl"
uniform float windowCenter;
uniform float windowWidth;
uniform int mode;

void main()
{
    vec3 origin;
    vec3 dir;
    cameraRay(origin, dir);
    int steps = max(numSteps, 2);
    float dt = rayLengthMm / float(steps - 1);
    ivec2 range = sampleRange(origin, dir, dt);
    float maximum = -1e30;
    float minimum = 1e30;
    float sum = 0.0;
    int taken = 0;
    for (int i = range.x; i <= range.y; ++i) {
        vec3 p = origin + dir * (rayStartMm + dt * float(i));
        if (cropCount > 0 && hiddenByCutOut(p))
            continue;
        float value = texture(volumeTexture, textureCoord(p)).r;
        maximum = max(maximum, value);
        minimum = min(minimum, value);
        sum += value;
        ++taken;
    }
    float value = windowCenter - windowWidth;
    if (taken > 0)
        value = mode == 0 ? maximum : (mode == 1 ? minimum : sum / float(taken));
    float grey = clamp((value - (windowCenter - windowWidth * 0.5)) / max(windowWidth, 1e-6), 0.0, 1.0);
    fragColor = vec4(grey, grey, grey, 1.0);
}
