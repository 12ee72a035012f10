#version 330 core
// Volume rendering: front-to-back compositing through the transfer table.
#include "raycommon.glsl"
uniform sampler1D transferTexture;
uniform float huMin;
uniform float huMax;
uniform int enableShading;
uniform float densityMin;
uniform float densityMax;

void main()
{
    vec3 origin;
    vec3 dir;
    cameraRay(origin, dir);
    int steps = max(numSteps, 2);
    float dt = rayLengthMm / float(steps - 1);
    ivec2 range = sampleRange(origin, dir, dt);
    vec3 halfVoxel = 0.5 / voxelCount;
    vec3 light = normalize(-dir + 0.3 * cameraUp);
    vec3 color = vec3(0.0);
    float alpha = 0.0;
    for (int i = range.x; i <= range.y && alpha <= 0.98; ++i) {
        vec3 p = origin + dir * (rayStartMm + dt * float(i));
        if (cropCount > 0 && hiddenByCutOut(p))
            continue;
        vec3 uvw = textureCoord(p);
        float density = texture(volumeTexture, uvw).r;
        if (density < densityMin || density > densityMax)
            continue;
        float huNorm = clamp((density - huMin) / max(huMax - huMin, 1e-6), 0.0, 1.0);
        vec4 sampleColor = texture(transferTexture, (huNorm * 255.0 + 0.5) / 256.0);
        if (sampleColor.a <= 0.003)
            continue;
        vec3 rgb = sampleColor.rgb;
        if (enableShading != 0) {
            vec3 gradient = vec3(
                texture(volumeTexture, uvw + vec3(halfVoxel.x, 0.0, 0.0)).r
                    - texture(volumeTexture, uvw - vec3(halfVoxel.x, 0.0, 0.0)).r,
                texture(volumeTexture, uvw + vec3(0.0, halfVoxel.y, 0.0)).r
                    - texture(volumeTexture, uvw - vec3(0.0, halfVoxel.y, 0.0)).r,
                texture(volumeTexture, uvw + vec3(0.0, 0.0, halfVoxel.z)).r
                    - texture(volumeTexture, uvw - vec3(0.0, 0.0, halfVoxel.z)).r);
            float len = length(gradient);
            if (len > 1e-5) {
                vec3 normal = -gradient / len;
                float lighting = 0.35 + 0.65 * max(0.0, dot(normal, light));
                rgb *= min(1.15, lighting);
            }
        }
        float weight = (1.0 - alpha) * sampleColor.a;
        color += weight * rgb;
        alpha += weight;
    }
    fragColor = vec4(color, 1.0);
}
