// Shared by the MIP and VRT passes: the camera, the volume box and the cut-outs.
uniform sampler3D volumeTexture;
uniform sampler2DArray cropMasks;
uniform vec2 viewportSize;
uniform vec3 cameraDir;
uniform vec3 cameraRight;
uniform vec3 cameraUp;
uniform vec3 volumeExtentMm;
uniform vec3 voxelCount;
uniform float halfExtentMm;
uniform float rayStartMm;
uniform float rayLengthMm;
uniform int numSteps;
uniform float panU;
uniform float panV;
uniform int perspectiveEnabled;
uniform vec3 cameraPosMm;
uniform float fovDeg;
uniform int cropCount;
uniform vec3 cropRight[6];
uniform vec3 cropUp[6];
uniform float cropHalfExtentMm[6];
uniform float cropPanU[6];
uniform float cropPanV[6];

out vec4 fragColor;

void cameraRay(out vec3 origin, out vec3 dir)
{
    float shorter = min(viewportSize.x, viewportSize.y);
    vec2 xy = (gl_FragCoord.xy / viewportSize * 2.0 - 1.0) * (viewportSize / shorter);
    if (perspectiveEnabled != 0) {
        origin = cameraPosMm;
        dir = normalize(cameraDir + (xy.x * cameraRight + xy.y * cameraUp) * tan(radians(fovDeg) * 0.5));
    } else {
        origin = cameraRight * (xy.x * halfExtentMm + panU) + cameraUp * (xy.y * halfExtentMm + panV);
        dir = cameraDir;
    }
}

// The first and last sample index inside the volume's box (last < first: none).
ivec2 sampleRange(vec3 origin, vec3 dir, float dt)
{
    vec3 voxel = volumeExtentMm / voxelCount;
    vec3 o = origin / voxel + voxelCount * 0.5 - 0.5;
    vec3 d = dir / voxel;
    float tEnter = -1e30;
    float tExit = 1e30;
    for (int a = 0; a < 3; ++a) {
        float lo = -0.5;
        float hi = voxelCount[a] - 0.5;
        if (abs(d[a]) < 1e-12) {
            if (o[a] < lo || o[a] > hi)
                return ivec2(1, 0);
        } else {
            float t1 = (lo - o[a]) / d[a];
            float t2 = (hi - o[a]) / d[a];
            tEnter = max(tEnter, min(t1, t2));
            tExit = min(tExit, max(t1, t2));
        }
    }
    int first = max(0, int(ceil((tEnter - rayStartMm) / dt)));
    int last = min(numSteps - 1, int(floor((tExit - rayStartMm) / dt)));
    return ivec2(first, last);
}

bool hiddenByCutOut(vec3 p)
{
    for (int i = 0; i < cropCount; ++i) {
        float halfSide = max(cropHalfExtentMm[i], 0.1);
        float u = (dot(p, cropRight[i]) - cropPanU[i]) / halfSide;
        float v = (dot(p, cropUp[i]) - cropPanV[i]) / halfSide;
        if (abs(u) <= 1.0 && abs(v) <= 1.0
            && texture(cropMasks, vec3((u + 1.0) * 0.5, (1.0 - v) * 0.5, float(i))).r < 0.5)
            return true;
    }
    return false;
}

vec3 textureCoord(vec3 p)
{
    return p / volumeExtentMm + 0.5;
}
