// B8G8R8A8 to limited-range Y'CbCr 4:2:0 codes, written as integers through
// UINT views of the luma and chroma planes (8-bit codes for NV12, 16-bit for
// P010). One of three passes:
//   SINGLE  one thread per 2x2 block: its chroma texel and its four luma values
//   CHROMA  the chroma texel only (first pass of the improved conversion)
//   LUMA    one thread per pixel: luma that keeps the pixel's luminance after
//           the decoder shares the chroma (second pass of the improved conversion)
// The coefficients arrive folded: the matrix row times the limited-range
// scale times the code scale (255 or 65535), so each value is one sum of
// products plus an offset, truncated. With PACKED_SOURCE the picture is read
// as 32-bit words (the scaled picture); otherwise through a UNORM view.
#ifdef PACKED_SOURCE
Texture2D<uint> source : register(t0);
#else
Texture2D<float4> source : register(t0);
#endif
Texture2D<uint2> chroma_in : register(t1);
RWTexture2D<uint> luma_out : register(u0);
RWTexture2D<uint2> chroma_out : register(u1);

cbuffer Coefficients : register(b0)
{
    float4 y_k;    // xyz: R, G, B; w: offset + 0.5
    float4 cb_k;   // xyz: R, G, B (for 8 times the filtered value); w: offset + 0.5
    float4 cr_k;   // xyz: R, G, B
    float4 kd_k;   // xy: K.d from (Cb, Cr); z: luma scale; w: luma offset + 0.5
    float4 q_k;    // xyz: (K.d)^2 - K.d^2 from (Cb^2, Cb Cr, Cr^2); w: chroma code -> 0..1
    float4 lum_k;  // xyz: luminance of R^2, G^2, B^2 of the bytes
    float4 decode; // x: the code of zero chroma (0..1), y: the range scale back to -0.5..0.5
    int4 size;     // width, height, chroma width, chroma height
};

// Bytes B, G, R of a pixel (clamped to the picture).
int3 bgr(int x, int y)
{
    int2 p = int2(clamp(x, 0, size.x - 1), clamp(y, 0, size.y - 1));
#ifdef PACKED_SOURCE
    uint v = source.Load(int3(p, 0));
    return int3(v & 255u, (v >> 8) & 255u, (v >> 16) & 255u);
#else
    float4 c = source.Load(int3(p, 0));
    return int3(c.b * 255.0 + 0.5, c.g * 255.0 + 0.5, c.r * 255.0 + 0.5);
#endif
}

#if defined(SINGLE) || defined(CHROMA)
uint luma_code(int3 c)
{
    float3 f = float3(c);
    precise float v = y_k.x * f.z + y_k.y * f.y;
    v = v + y_k.z * f.x;
    v = v + y_k.w;
    return uint(int(v));
}

[numthreads(16, 16, 1)]
void main(uint3 id : SV_DispatchThreadID)
{
    int x = int(id.x), y = int(id.y);
    if (x >= size.z || y >= size.w)
        return;
    // Columns 2x - 1, 2x, 2x + 1 weighted 1, 2, 1 over rows 2y and 2y + 1:
    // 8 times the filtered value (MPEG-2 siting).
    int3 a0 = bgr(2 * x - 1, 2 * y), a1 = bgr(2 * x, 2 * y), a2 = bgr(2 * x + 1, 2 * y);
    int3 b0 = bgr(2 * x - 1, 2 * y + 1), b1 = bgr(2 * x, 2 * y + 1), b2 = bgr(2 * x + 1, 2 * y + 1);
    float3 t = float3((a0 + b0) + 2 * (a1 + b1) + (a2 + b2));
    precise float cb = cb_k.x * t.z + cb_k.y * t.y;
    cb = cb + cb_k.z * t.x;
    cb = cb + cb_k.w;
    precise float cr = cr_k.x * t.z + cr_k.y * t.y;
    cr = cr + cr_k.z * t.x;
    cr = cr + cb_k.w;
    chroma_out[id.xy] = uint2(int(cb), int(cr));
#ifdef SINGLE
    luma_out[int2(2 * x, 2 * y)] = luma_code(a1);
    if (2 * x + 1 < size.x)
        luma_out[int2(2 * x + 1, 2 * y)] = luma_code(a2);
    if (2 * y + 1 < size.y)
    {
        luma_out[int2(2 * x, 2 * y + 1)] = luma_code(b1);
        if (2 * x + 1 < size.x)
            luma_out[int2(2 * x + 1, 2 * y + 1)] = luma_code(b2);
    }
#endif
}
#endif

#ifdef LUMA
// Cb and Cr at chroma column h for luma row y, interpolated between the two
// nearest chroma rows as the decoder does, back in -0.5..0.5.
float2 chroma_at(int h, int y)
{
    int j = y >> 1;
    int ja, jb;
    float wa, wb;
    if ((y & 1) == 0)
    {
        ja = max(j - 1, 0);
        jb = j;
        wa = 0.25;
        wb = 0.75;
    }
    else
    {
        ja = j;
        jb = min(j + 1, size.w - 1);
        wa = 0.75;
        wb = 0.25;
    }
    h = min(h, size.z - 1);
    float2 ca = float2(chroma_in.Load(int3(h, ja, 0)));
    float2 cb = float2(chroma_in.Load(int3(h, jb, 0)));
    precise float2 mix = wa * (ca * q_k.w) + wb * (cb * q_k.w);
    precise float2 c = (mix - decode.x) * decode.y;
    return c;
}

[numthreads(16, 16, 1)]
void main(uint3 id : SV_DispatchThreadID)
{
    int x = int(id.x), y = int(id.y);
    if (x >= size.x || y >= size.y)
        return;
    // Even pixels sit on a chroma column, odd ones halfway to the next.
    int h = x >> 1;
    float2 c = chroma_at(h, y);
    if (x & 1)
    {
        precise float2 m = 0.5 * c + 0.5 * chroma_at(h + 1, y);
        c = m;
    }
    precise float kd = kd_k.x * c.x + kd_k.y * c.y;
    precise float q = q_k.x * (c.x * c.x) + q_k.y * (c.x * c.y);
    q = q + q_k.z * (c.y * c.y);
    float3 f = float3(bgr(x, y));
    precise float l = lum_k.x * (f.z * f.z) + lum_k.y * (f.y * f.y);
    l = l + lum_k.z * (f.x * f.x);
    precise float arg = l + q;
    // Below zero no luma can restore the luminance: black's code.
    float v = arg >= 0.0 ? sqrt(arg) - kd : 0.0;
    v = v > 0.0 ? v : 0.0;
    v = v < 1.0 ? v : 1.0;
    precise float code = v * kd_k.z + kd_k.w;
    luma_out[id.xy] = uint(int(code));
}
#endif
