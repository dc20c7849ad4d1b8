// The teaching commands: plan walkthroughs, shape quizzes, topic lessons and the attention demo.
#pragma once

#include <string>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status explain_model_command(const Args& args, Io& io);
Status quiz_command(const Args& args, Io& io);
Status demo_command(const Args& args, Io& io);

enum class LessonView { All, Shape, Memory, Math, Compare };
enum class Topic { Tensor, Matmul, Linear, Softmax, Attention, Transformer };

Result<Topic> parse_topic(const std::string& word);
// `explain <topic>` with its options already scanned.
Status explain_topic(const std::string& word, LessonView view, bool step, bool quiz, Io& io);

// Prints "next> ", flushes, reads one line; fails only when the streams fail.
Status wait_for_enter(Io& io);
// Reads one line after printing `prompt`; end of input reads as an empty line.
Result<std::string> prompt_line(Io& io, const std::string& prompt);

}  // namespace tarnwick
