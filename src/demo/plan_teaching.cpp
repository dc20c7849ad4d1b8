#include <ostream>

#include "base/change_lines.h"
#include "base/text.h"
#include "demo/teaching.h"
#include "model/plan_args.h"

namespace tarnwick {

Status explain_model_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick explain-model examples/tiny_attention.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  io.out << "Model Walkthrough\n-----------------\nModel: " << model.name << "\n";
  if (model.description) io.out << "Description: " << *model.description << "\n";
  io.out << "\n";
  for (const TextBlock& block : analysis.walkthrough) {
    std::string heading = "Step " + std::to_string(block.position) + ": " + block.title;
    print_title(io.out, heading);
    for (const std::string& line : block.lines) io.out << line << "\n";
    io.out << "\n";
  }
  return Status::ok();
}

Status quiz_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick quiz examples/mlp.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  io.out << "Shape quiz: " << model.name << "\nType shapes like [1, 8].\n\n";
  std::size_t correct = 0;
  for (std::size_t i = 0; i < analysis.quiz.size(); ++i) {
    const QuizQuestion& question = analysis.quiz[i];
    io.out << "Question " << i + 1 << ": " << question.title << "\n";
    for (const std::string& line : question.prompt) io.out << "  " << line << "\n";
    Result<std::string> reply = prompt_line(io, "output shape> ");
    if (!reply.is_ok()) return reply.error();
    if (remove_whitespace(reply.value()) == remove_whitespace(question.answer)) {
      io.out << "Correct.\n";
      ++correct;
    } else {
      io.out << "Answer: " << question.answer << "\n";
    }
    io.out << "Why: " << question.reason << "\n\n";
  }
  io.out << "Score: " << correct << "/" << analysis.quiz.size() << "\n";
  return Status::ok();
}

}  // namespace tarnwick
