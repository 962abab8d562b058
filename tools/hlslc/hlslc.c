/* A small command-line front end to vkd3d-shader: HLSL source in, shader
 * model 5 bytecode (DXBC) out. Built by scripts/build-hlsl-compiler.sh
 * together with the library's sources.
 *
 *   hlslc -p cs_5_0 [-e main] [-D NAME[=VALUE]]... -o out.dxbc in.hlsl
 *
 * Exit status 0 on success; the compiler's messages go to standard error. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vkd3d_shader.h>

#define MAX_MACROS 32

static int read_file(const char *path, struct vkd3d_shader_code *code)
{
    FILE *f = fopen(path, "rb");
    long size;
    void *data;

    if (!f)
        return 0;
    if (fseek(f, 0, SEEK_END) || (size = ftell(f)) < 0 || fseek(f, 0, SEEK_SET)
            || !(data = malloc(size + 1)))
    {
        fclose(f);
        return 0;
    }
    if (fread(data, 1, size, f) != (size_t)size)
    {
        free(data);
        fclose(f);
        return 0;
    }
    fclose(f);
    code->code = data;
    code->size = size;
    return 1;
}

static void usage(void)
{
    fprintf(stderr, "usage: hlslc -p PROFILE [-e ENTRY] [-D NAME[=VALUE]]... -o OUTPUT INPUT\n");
    exit(2);
}

int main(int argc, char **argv)
{
    const char *profile = NULL, *entry = "main", *output = NULL, *input = NULL;
    struct vkd3d_shader_macro macros[MAX_MACROS];
    struct vkd3d_shader_hlsl_source_info hlsl = {0};
    struct vkd3d_shader_preprocess_info preprocess = {0};
    struct vkd3d_shader_compile_info info = {0};
    struct vkd3d_shader_code out = {0};
    unsigned int macro_count = 0;
    char *messages = NULL;
    FILE *f;
    int i, ret;

    for (i = 1; i < argc; ++i)
    {
        if (!strcmp(argv[i], "-p") && i + 1 < argc)
            profile = argv[++i];
        else if (!strcmp(argv[i], "-e") && i + 1 < argc)
            entry = argv[++i];
        else if (!strcmp(argv[i], "-o") && i + 1 < argc)
            output = argv[++i];
        else if (!strncmp(argv[i], "-D", 2))
        {
            char *name = argv[i][2] ? argv[i] + 2 : (i + 1 < argc ? argv[++i] : NULL);
            char *eq;

            if (!name || macro_count == MAX_MACROS)
                usage();
            macros[macro_count].name = name;
            macros[macro_count].value = "1";
            if ((eq = strchr(name, '=')))
            {
                *eq = 0;
                macros[macro_count].value = eq + 1;
            }
            ++macro_count;
        }
        else if (argv[i][0] != '-' && !input)
            input = argv[i];
        else
            usage();
    }
    if (!profile || !output || !input)
        usage();

    if (!read_file(input, &info.source))
    {
        fprintf(stderr, "hlslc: cannot read %s\n", input);
        return 1;
    }
    hlsl.type = VKD3D_SHADER_STRUCTURE_TYPE_HLSL_SOURCE_INFO;
    hlsl.entry_point = entry;
    hlsl.profile = profile;
    preprocess.type = VKD3D_SHADER_STRUCTURE_TYPE_PREPROCESS_INFO;
    preprocess.next = &hlsl;
    preprocess.macros = macros;
    preprocess.macro_count = macro_count;
    info.type = VKD3D_SHADER_STRUCTURE_TYPE_COMPILE_INFO;
    info.next = &preprocess;
    info.source_type = VKD3D_SHADER_SOURCE_HLSL;
    info.target_type = VKD3D_SHADER_TARGET_DXBC_TPF;
    info.log_level = VKD3D_SHADER_LOG_WARNING;
    info.source_name = input;

    ret = vkd3d_shader_compile(&info, &out, &messages);
    if (messages && *messages)
        fputs(messages, stderr);
    vkd3d_shader_free_messages(messages);
    if (ret < 0)
    {
        fprintf(stderr, "hlslc: %s: compilation failed (%d)\n", input, ret);
        return 1;
    }
    if (!(f = fopen(output, "wb")) || fwrite(out.code, 1, out.size, f) != out.size || fclose(f))
    {
        fprintf(stderr, "hlslc: cannot write %s\n", output);
        return 1;
    }
    vkd3d_shader_free_shader_code(&out);
    return 0;
}
