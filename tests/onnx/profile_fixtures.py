"""Models for the profile's differential test, written by the real exporters (torch.onnx.export
of torchvision networks and of modules that compute their padding at run time, a torch
static-quantization export) and by onnx.helper (quantized integer ops, If, Loop and Scan,
graphs stored out of topological order, a float16 copy).

write_fixtures(folder) returns one case per file: {"path", "macs" (hand-derived total, or None
to take the total of the dense MACs from onnx's own shapes; for an incomplete graph, what the
costed part adds up to), "incomplete" (the flag the profile
must report), "oracle" (the file whose onnx inference stands in for this one: a permuted graph
is checked against its sorted original)}.
"""
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


def _export(model, example, path, opset):
    import torch

    with torch.no_grad():
        torch.onnx.export(model.eval(), example, path, opset_version=opset)


class _WindowPad:
    """Swin's pattern: pad a feature map up to a multiple of the window size with amounts
    computed from its shape at run time (F.pad, routed by the exporter through Shape, Mod,
    Sub, Concat, Reshape, Slice with a negative step, Transpose and Cast), then a reflect pad
    of computed amounts before a convolution."""

    WINDOW = 4

    @staticmethod
    def build():
        import torch
        import torch.nn.functional as F
        from torch import nn

        window = _WindowPad.WINDOW

        class WindowPad(nn.Module):
            def __init__(self):
                super().__init__()
                self.embed = nn.Conv2d(3, 16, kernel_size=4, stride=4)
                self.proj = nn.Linear(16, 32, bias=False)
                self.conv = nn.Conv2d(32, 8, kernel_size=3)

            def forward(self, x):
                x = self.embed(x).permute(0, 2, 3, 1)
                h, w = x.shape[1], x.shape[2]
                pad_b = (window - h % window) % window
                pad_r = (window - w % window) % window
                x = F.pad(x, (0, 0, 0, pad_r, 0, pad_b))
                x = self.proj(x).permute(0, 3, 1, 2)
                x = F.pad(x, (1, pad_r + 1, 1, pad_b + 1), mode="reflect")
                return self.conv(x)

        torch.manual_seed(0)
        return WindowPad()

    @staticmethod
    def macs(height, width):
        window = _WindowPad.WINDOW
        h, w = height // 4, width // 4
        embed = 16 * h * w * 3 * 4 * 4
        pad_b, pad_r = (window - h % window) % window, (window - w % window) % window
        hp, wp = h + pad_b, w + pad_r
        proj = hp * wp * 32 * 16
        conv_h, conv_w = hp + 1 + pad_b + 1 - 2, wp + 1 + pad_r + 1 - 2
        conv = 8 * conv_h * conv_w * 32 * 9
        return embed + proj + conv


def _weight(name, shape, seed):
    values = np.random.default_rng(seed).standard_normal(shape).astype(np.float32)
    return numpy_helper.from_array(values, name)


def _int_tensor(name, values, dtype=np.int64):
    return numpy_helper.from_array(np.array(values, dtype=dtype), name)


def _quantized_graph(path):
    """Dynamic and static integer ops on a [1, 3, 10, 10] input."""
    nodes = [
        helper.make_node("DynamicQuantizeLinear", ["x"], ["xq", "x_scale", "x_zero"], name="quantize_input"),
        helper.make_node("ConvInteger", ["xq", "wq", "x_zero"], ["conv_i"], name="conv_integer", pads=[1, 1, 1, 1]),
        helper.make_node("QLinearConv", ["xq", "x_scale", "x_zero", "wq", "w_scale", "w_zero", "y_scale", "y_zero"],
                         ["conv_q"], name="qlinear_conv", strides=[2, 2]),
        helper.make_node("DequantizeLinear", ["conv_q", "y_scale", "y_zero"], ["conv_f"], name="dequantize"),
        helper.make_node("Flatten", ["conv_f"], ["flat"], name="flatten"),
        helper.make_node("QuantizeLinear", ["flat", "y_scale", "y_zero"], ["flat_q"], name="requantize"),
        helper.make_node("MatMulInteger", ["flat_q", "fc_q", "y_zero"], ["logits_i"], name="matmul_integer"),
        helper.make_node("QLinearMatMul", ["flat_q", "y_scale", "y_zero", "fc_q", "w_scale", "w_zero", "y_scale",
                                           "y_zero"], ["logits_q"], name="qlinear_matmul"),
    ]
    initializers = [
        numpy_helper.from_array(np.ones((6, 3, 3, 3), dtype=np.uint8), "wq"),
        numpy_helper.from_array(np.array(0.5, dtype=np.float32), "w_scale"),
        numpy_helper.from_array(np.array(0, dtype=np.uint8), "w_zero"),
        numpy_helper.from_array(np.array(0.25, dtype=np.float32), "y_scale"),
        numpy_helper.from_array(np.array(3, dtype=np.uint8), "y_zero"),
        numpy_helper.from_array(np.ones((6 * 4 * 4, 10), dtype=np.uint8), "fc_q"),
    ]
    graph = helper.make_graph(
        nodes, "quantized", [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 3, 10, 10])],
        [helper.make_tensor_value_info(name, elem, None)
         for name, elem in (("conv_i", TensorProto.INT32), ("logits_i", TensorProto.INT32),
                            ("logits_q", TensorProto.UINT8))],
        initializers)
    onnx.save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)]), path)
    conv_integer = 6 * 10 * 10 * 3 * 9
    qlinear_conv = 6 * 4 * 4 * 3 * 9
    matmul = 96 * 10
    return conv_integer + qlinear_conv + 2 * matmul


def _control_flow_graph(path, constant_trips):
    """An If whose else branch costs more, and a Loop of 5 (or of a run-time count)."""
    then_branch = helper.make_graph(
        [helper.make_node("MatMul", ["x", "w_then"], ["then_out"], name="then_matmul")], "then_branch", [],
        [helper.make_tensor_value_info("then_out", TensorProto.FLOAT, [1, 16])])
    else_branch = helper.make_graph(
        [helper.make_node("MatMul", ["x", "w_wide"], ["wide"], name="else_wide"),
         helper.make_node("MatMul", ["wide", "w_narrow"], ["else_out"], name="else_narrow")], "else_branch", [],
        [helper.make_tensor_value_info("else_out", TensorProto.FLOAT, [1, 16])])
    body = helper.make_graph(
        [helper.make_node("MatMul", ["carried", "w_loop"], ["next"], name="body_matmul"),
         helper.make_node("Identity", ["cond_in"], ["cond_out"], name="keep_going")], "body",
        [helper.make_tensor_value_info("i", TensorProto.INT64, []),
         helper.make_tensor_value_info("cond_in", TensorProto.BOOL, []),
         helper.make_tensor_value_info("carried", TensorProto.FLOAT, [1, 16])],
        [helper.make_tensor_value_info("cond_out", TensorProto.BOOL, []),
         helper.make_tensor_value_info("next", TensorProto.FLOAT, [1, 16])])
    nodes = [
        helper.make_node("If", ["flag"], ["chosen"], name="choose", then_branch=then_branch, else_branch=else_branch),
        helper.make_node("Loop", ["trips", "", "chosen"], ["looped"], name="repeat", body=body),
        helper.make_node("Relu", ["looped"], ["y"], name="out"),
    ]
    inputs = [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 8]),
              helper.make_tensor_value_info("flag", TensorProto.BOOL, [])]
    initializers = [_weight("w_then", (8, 16), 1), _weight("w_wide", (8, 32), 2), _weight("w_narrow", (32, 16), 3),
                    _weight("w_loop", (16, 16), 4)]
    if constant_trips:
        initializers.append(_int_tensor("trips", 5))
    else:
        inputs.append(helper.make_tensor_value_info("trips", TensorProto.INT64, []))
    graph = helper.make_graph(nodes, "control_flow", inputs, [helper.make_tensor_value_info("y", TensorProto.FLOAT, None)],
                              initializers)
    onnx.save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)]), path)
    larger_branch = 8 * 32 + 32 * 16
    return larger_branch + 5 * 16 * 16 if constant_trips else larger_branch  # an unknown count adds nothing


def _permuted(source, path):
    """The source graph with its nodes stored in reverse."""
    model = onnx.load(source)
    nodes = list(model.graph.node)
    del model.graph.node[:]
    model.graph.node.extend(reversed(nodes))
    onnx.save(model, path)


def _float16(source, path):
    """The source network in float16, as converters write it: weights, inputs and outputs."""
    model = onnx.load(source)
    for tensor in model.graph.initializer:
        if tensor.data_type == TensorProto.FLOAT:
            tensor.CopyFrom(numpy_helper.from_array(numpy_helper.to_array(tensor).astype(np.float16), tensor.name))
    for value in list(model.graph.input) + list(model.graph.output):
        if value.type.tensor_type.elem_type == TensorProto.FLOAT:
            value.type.tensor_type.elem_type = TensorProto.FLOAT16
    onnx.save(model, path)


def _scan_graph(path):
    """A Scan over 4 rows of [4, 8]: each step multiplies one row by an [8, 16] weight."""
    body = helper.make_graph(
        [helper.make_node("MatMul", ["row", "w_step"], ["row_out"], name="step_matmul"),
         helper.make_node("Identity", ["state_in"], ["state_out"], name="state")], "body",
        [helper.make_tensor_value_info("state_in", TensorProto.FLOAT, [1]),
         helper.make_tensor_value_info("row", TensorProto.FLOAT, [1, 8])],
        [helper.make_tensor_value_info("state_out", TensorProto.FLOAT, [1]),
         helper.make_tensor_value_info("row_out", TensorProto.FLOAT, [1, 16])])
    nodes = [helper.make_node("Scan", ["state", "rows"], ["final", "stacked"], name="scan", body=body,
                              num_scan_inputs=1)]
    graph = helper.make_graph(
        nodes, "scan", [helper.make_tensor_value_info("rows", TensorProto.FLOAT, [4, 1, 8])],
        [helper.make_tensor_value_info("stacked", TensorProto.FLOAT, None)],
        [_weight("w_step", (8, 16), 5), numpy_helper.from_array(np.zeros(1, dtype=np.float32), "state")])
    onnx.save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)]), path)
    return 4 * 8 * 16


def _static_quantized(path):
    import torch
    from torch import nn

    class Small(nn.Module):
        def __init__(self):
            super().__init__()
            self.quant = torch.quantization.QuantStub()
            self.conv = nn.Conv2d(3, 8, 3)
            self.relu = nn.ReLU()
            self.fc = nn.Linear(8 * 6 * 6, 4)
            self.dequant = torch.quantization.DeQuantStub()

        def forward(self, x):
            x = self.relu(self.conv(self.quant(x)))
            return self.dequant(self.fc(x.flatten(1)))

    torch.manual_seed(0)
    model = Small().eval()
    model.qconfig = torch.quantization.get_default_qconfig("fbgemm")
    prepared = torch.quantization.prepare(model)
    prepared(torch.randn(4, 3, 8, 8))
    _export(torch.quantization.convert(prepared), torch.randn(1, 3, 8, 8), path, 13)
    return 8 * 6 * 6 * 3 * 9 + 8 * 6 * 6 * 4


def write_fixtures(folder):
    import torch
    import torchvision

    cases = []

    def case(name, macs, incomplete=False, oracle=None):
        cases.append({"path": os.path.join(folder, name), "macs": macs, "incomplete": incomplete,
                      "oracle": os.path.join(folder, oracle) if oracle else None})

    torch.manual_seed(0)
    _export(torchvision.models.resnet18(), torch.randn(1, 3, 224, 224), os.path.join(folder, "resnet18.onnx"), 13)
    case("resnet18.onnx", None)
    _export(torchvision.models.mobilenet_v3_small(), torch.randn(1, 3, 160, 160),
            os.path.join(folder, "mobilenet_v3_small.onnx"), 17)
    case("mobilenet_v3_small.onnx", None)
    for opset in (11, 13, 17):
        name = f"window_pad_opset{opset}.onnx"
        _export(_WindowPad.build(), torch.randn(1, 3, 60, 52), os.path.join(folder, name), opset)
        case(name, _WindowPad.macs(60, 52))
    _permuted(os.path.join(folder, "resnet18.onnx"), os.path.join(folder, "resnet18_reversed.onnx"))
    case("resnet18_reversed.onnx", None, oracle="resnet18.onnx")
    _float16(os.path.join(folder, "resnet18.onnx"), os.path.join(folder, "resnet18_fp16.onnx"))
    _permuted(os.path.join(folder, "resnet18_fp16.onnx"), os.path.join(folder, "resnet18_fp16_reversed.onnx"))
    case("resnet18_fp16_reversed.onnx", None, oracle="resnet18_fp16.onnx")
    _permuted(os.path.join(folder, "window_pad_opset17.onnx"), os.path.join(folder, "window_pad_reversed.onnx"))
    case("window_pad_reversed.onnx", _WindowPad.macs(60, 52), oracle="window_pad_opset17.onnx")
    case("quantized_ops.onnx", _quantized_graph(os.path.join(folder, "quantized_ops.onnx")))
    case("static_quantized.onnx", _static_quantized(os.path.join(folder, "static_quantized.onnx")))
    case("scan.onnx", _scan_graph(os.path.join(folder, "scan.onnx")))
    case("control_flow.onnx", _control_flow_graph(os.path.join(folder, "control_flow.onnx"), True))
    case("control_flow_runtime_trips.onnx",
         _control_flow_graph(os.path.join(folder, "control_flow_runtime_trips.onnx"), False), incomplete=True)
    return cases
