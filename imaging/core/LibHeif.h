// SPDX-License-Identifier: MIT

#pragma once

#include <libheif/heif.h>

// libheif's functions that the HEIF and AVIF reader and writer call, taken from libheif.so.1
// on first use (the declarations come from its header; nothing links it). Plain C++.
namespace ImageCore {

#define PICTELLE_LIBHEIF_FUNCTIONS(F)                                                              \
    F(heif_context_alloc)                                                                          \
    F(heif_context_encode_image)                                                                   \
    F(heif_context_free)                                                                           \
    F(heif_context_get_encoder_for_format)                                                         \
    F(heif_context_get_primary_image_handle)                                                       \
    F(heif_context_read_from_memory_without_copy)                                                  \
    F(heif_context_set_maximum_image_size_limit)                                                   \
    F(heif_context_write)                                                                          \
    F(heif_decode_image)                                                                           \
    F(heif_decoding_options_alloc)                                                                 \
    F(heif_decoding_options_free)                                                                  \
    F(heif_encoder_release)                                                                        \
    F(heif_encoder_set_lossless)                                                                   \
    F(heif_encoder_set_lossy_quality)                                                              \
    F(heif_encoder_set_parameter_integer)                                                          \
    F(heif_encoder_set_parameter_string)                                                           \
    F(heif_encoding_options_alloc)                                                                 \
    F(heif_encoding_options_free)                                                                  \
    F(heif_image_add_plane)                                                                        \
    F(heif_image_create)                                                                           \
    F(heif_image_get_bits_per_pixel_range)                                                         \
    F(heif_image_get_height)                                                                       \
    F(heif_image_get_nclx_color_profile)                                                           \
    F(heif_image_get_plane)                                                                        \
    F(heif_image_get_plane_readonly)                                                               \
    F(heif_image_get_width)                                                                        \
    F(heif_image_handle_get_height)                                                                \
    F(heif_image_handle_get_list_of_thumbnail_IDs)                                                 \
    F(heif_image_handle_get_luma_bits_per_pixel)                                                   \
    F(heif_image_handle_get_nclx_color_profile)                                                    \
    F(heif_image_handle_get_number_of_thumbnails)                                                  \
    F(heif_image_handle_get_raw_color_profile)                                                     \
    F(heif_image_handle_get_raw_color_profile_size)                                                \
    F(heif_image_handle_get_thumbnail)                                                             \
    F(heif_image_handle_get_width)                                                                 \
    F(heif_image_handle_has_alpha_channel)                                                         \
    F(heif_image_handle_is_premultiplied_alpha)                                                    \
    F(heif_image_handle_release)                                                                   \
    F(heif_image_release)                                                                          \
    F(heif_image_set_nclx_color_profile)                                                           \
    F(heif_image_set_raw_color_profile)                                                            \
    F(heif_nclx_color_profile_alloc)                                                               \
    F(heif_nclx_color_profile_free)                                                                \
    F(heif_nclx_color_profile_set_color_primaries)                                                 \
    F(heif_nclx_color_profile_set_matrix_coefficients)                                             \
    F(heif_nclx_color_profile_set_transfer_characteristics)

// Each member is named and typed as the function it points to: h.heif_context_alloc().
struct LibHeif
{
#define PICTELLE_DECLARE(name) decltype(&::name) name = nullptr;
    PICTELLE_LIBHEIF_FUNCTIONS(PICTELLE_DECLARE)
#undef PICTELLE_DECLARE
};

// libheif, loaded by the first call (from any thread, once); throws LibraryError when it or
// one of its functions is missing, and tries again at the next call.
const LibHeif& libheif();

} // namespace ImageCore
