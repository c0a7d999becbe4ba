// The entry points bound from each codec library, in the order they are
// resolved. One line per entry: add an entry here and it is declared,
// resolved and checked everywhere. This header includes nothing, so the
// stub libraries of the tests can expand it too.
#pragma once

#define LIBAV_CODEC_ENTRIES(X)          \
    X(avcodec_version)                  \
    X(avcodec_alloc_context3)           \
    X(avcodec_free_context)             \
    X(avcodec_get_class)                \
    X(avcodec_parameters_alloc)         \
    X(avcodec_parameters_free)          \
    X(avcodec_parameters_copy)          \
    X(avcodec_parameters_to_context)    \
    X(avcodec_parameters_from_context)  \
    X(avcodec_find_encoder)             \
    X(avcodec_find_decoder)             \
    X(avcodec_find_encoder_by_name)     \
    X(avcodec_find_decoder_by_name)     \
    X(av_codec_iterate)                 \
    X(av_codec_is_encoder)              \
    X(av_codec_is_decoder)              \
    X(avcodec_get_name)                 \
    X(avcodec_descriptor_get)           \
    X(avcodec_open2)                    \
    X(avcodec_close)                    \
    X(avcodec_is_open)                  \
    X(avcodec_send_packet)              \
    X(avcodec_receive_frame)            \
    X(avcodec_send_frame)               \
    X(avcodec_receive_packet)           \
    X(avcodec_flush_buffers)            \
    X(avcodec_decode_subtitle2)         \
    X(avcodec_encode_subtitle)          \
    X(avsubtitle_free)                  \
    X(av_packet_alloc)                  \
    X(av_packet_free)                   \
    X(av_packet_ref)                    \
    X(av_packet_unref)                  \
    X(av_packet_move_ref)               \
    X(av_packet_clone)                  \
    X(av_packet_make_writable)          \
    X(av_packet_rescale_ts)             \
    X(av_packet_get_side_data)          \
    X(av_new_packet)                    \
    X(av_shrink_packet)                 \
    X(av_bsf_get_by_name)               \
    X(av_bsf_alloc)                     \
    X(av_bsf_init)                      \
    X(av_bsf_free)                      \
    X(av_bsf_send_packet)               \
    X(av_bsf_receive_packet)            \
    X(av_get_bits_per_sample)           \
    X(av_get_exact_bits_per_sample)     \
    X(avcodec_string)

#define LIBAV_FILTER_ENTRIES(X)               \
    X(avfilter_version)                       \
    X(avfilter_get_by_name)                   \
    X(avfilter_graph_alloc)                   \
    X(avfilter_graph_free)                    \
    X(avfilter_graph_create_filter)           \
    X(avfilter_graph_parse_ptr)               \
    X(avfilter_graph_config)                  \
    X(avfilter_link)                          \
    X(avfilter_inout_alloc)                   \
    X(avfilter_inout_free)                    \
    X(av_buffersrc_add_frame_flags)           \
    X(av_buffersink_get_frame)                \
    X(av_buffersink_get_w)                    \
    X(av_buffersink_get_h)                    \
    X(av_buffersink_get_format)               \
    X(av_buffersink_get_time_base)            \
    X(av_buffersink_get_sample_aspect_ratio)

#define LIBAV_FORMAT_ENTRIES(X)          \
    X(avformat_version)                  \
    X(avformat_get_class)                \
    X(avformat_alloc_context)            \
    X(avformat_free_context)             \
    X(avformat_open_input)               \
    X(avformat_close_input)              \
    X(avformat_find_stream_info)         \
    X(av_find_input_format)              \
    X(av_probe_input_buffer2)            \
    X(av_demuxer_iterate)                \
    X(av_muxer_iterate)                  \
    X(av_read_frame)                     \
    X(av_seek_frame)                     \
    X(avformat_seek_file)                \
    X(av_read_pause)                     \
    X(av_read_play)                      \
    X(av_guess_format)                   \
    X(av_guess_codec)                    \
    X(avformat_alloc_output_context2)    \
    X(avformat_new_stream)               \
    X(avformat_query_codec)              \
    X(av_codec_get_id)                   \
    X(av_codec_get_tag)                  \
    X(av_codec_get_tag2)                 \
    X(av_filename_number_test)           \
    X(avformat_write_header)             \
    X(av_interleaved_write_frame)        \
    X(av_write_trailer)                  \
    X(av_dump_format)                    \
    X(av_pkt_dump_log2)                  \
    X(av_sdp_create)                     \
    X(avio_open2)                        \
    X(avio_closep)                       \
    X(avio_size)                         \
    X(avio_seek)

#define LIBAV_UTIL_ENTRIES(X)            \
    X(avutil_version)                    \
    X(av_log)                            \
    X(av_vlog)                           \
    X(av_log_set_callback)               \
    X(av_log_default_callback)           \
    X(av_log_get_level)                  \
    X(av_log_set_level)                  \
    X(av_default_item_name)              \
    X(av_strerror)                       \
    X(av_malloc)                         \
    X(av_mallocz)                        \
    X(av_realloc)                        \
    X(av_free)                           \
    X(av_freep)                          \
    X(av_strdup)                         \
    X(av_strlcpy)                        \
    X(av_reduce)                         \
    X(av_rescale)                        \
    X(av_rescale_rnd)                    \
    X(av_rescale_q)                      \
    X(av_rescale_q_rnd)                  \
    X(av_mul_q)                          \
    X(av_div_q)                          \
    X(av_add_q)                          \
    X(av_sub_q)                          \
    X(av_d2q)                            \
    X(av_gettime)                        \
    X(av_gettime_relative)               \
    X(av_parse_time)                     \
    X(av_parse_video_size)               \
    X(av_parse_video_rate)               \
    X(av_opt_find)                       \
    X(av_opt_next)                       \
    X(av_opt_set)                        \
    X(av_opt_set_int)                    \
    X(av_opt_set_bin)                    \
    X(av_opt_get)                        \
    X(av_opt_get_int)                    \
    X(av_dict_get)                       \
    X(av_dict_set)                       \
    X(av_dict_set_int)                   \
    X(av_dict_copy)                      \
    X(av_dict_count)                     \
    X(av_dict_free)                      \
    X(av_frame_alloc)                    \
    X(av_frame_free)                     \
    X(av_frame_ref)                      \
    X(av_frame_unref)                    \
    X(av_frame_clone)                    \
    X(av_frame_get_buffer)               \
    X(av_frame_make_writable)            \
    X(av_image_alloc)                    \
    X(av_image_fill_arrays)              \
    X(av_image_fill_linesizes)           \
    X(av_image_get_buffer_size)          \
    X(av_image_copy)                     \
    X(av_image_check_size)               \
    X(av_get_pix_fmt)                    \
    X(av_get_pix_fmt_name)               \
    X(av_get_pix_fmt_string)             \
    X(av_pix_fmt_desc_get)               \
    X(av_get_sample_fmt)                 \
    X(av_get_sample_fmt_name)            \
    X(av_get_sample_fmt_string)          \
    X(av_get_bytes_per_sample)           \
    X(av_sample_fmt_is_planar)           \
    X(av_get_packed_sample_fmt)          \
    X(av_samples_get_buffer_size)        \
    X(av_samples_set_silence)            \
    X(av_audio_fifo_alloc)               \
    X(av_audio_fifo_free)                \
    X(av_audio_fifo_write)               \
    X(av_audio_fifo_read)                \
    X(av_audio_fifo_size)                \
    X(av_audio_fifo_realloc)             \
    X(av_channel_layout_default)         \
    X(av_channel_layout_copy)            \
    X(av_channel_layout_compare)         \
    X(av_channel_layout_describe)        \
    X(av_channel_layout_uninit)          \
    X(av_get_picture_type_char)          \
    X(av_display_rotation_get)           \
    X(av_display_rotation_set)           \
    X(av_display_matrix_flip)            \
    X(av_get_media_type_string)

#define LIBAV_SCALE_ENTRIES(X)           \
    X(swscale_version)                   \
    X(sws_get_class)                     \
    X(sws_getContext)                    \
    X(sws_getCachedContext)              \
    X(sws_freeContext)                   \
    X(sws_scale)

#define LIBAV_RESAMPLE_ENTRIES(X)        \
    X(swresample_version)                \
    X(swr_alloc_set_opts2)               \
    X(swr_init)                          \
    X(swr_free)                          \
    X(swr_convert)                       \
    X(swr_set_compensation)              \
    X(swr_get_delay)                     \
    X(swr_get_out_samples)

#define LIBAV_ALL_ENTRIES(X)    \
    LIBAV_CODEC_ENTRIES(X)      \
    LIBAV_FILTER_ENTRIES(X)     \
    LIBAV_FORMAT_ENTRIES(X)     \
    LIBAV_UTIL_ENTRIES(X)       \
    LIBAV_SCALE_ENTRIES(X)      \
    LIBAV_RESAMPLE_ENTRIES(X)
